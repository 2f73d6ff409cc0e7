#include "sim/DeviceModel.h"

namespace devicemodel {

QString name(quint32 pid)
{
    switch (pid) {
    case kKx1:
        return QStringLiteral("KX1");
    case kKx2:
        return QStringLiteral("KX2");
    case kKq:
        return QStringLiteral("KQ");
    default:
        return QStringLiteral("PID %1").arg(pid);
    }
}

std::optional<quint32> parse(const QString& text)
{
    const QString upper = text.toUpper();
    if (upper == QLatin1String("KX1"))
        return kKx1;
    if (upper == QLatin1String("KX2"))
        return kKx2;
    if (upper == QLatin1String("KQ"))
        return kKq;
    bool ok = false;
    const quint32 pid = upper.startsWith(QLatin1String("0X")) ? upper.mid(2).toUInt(&ok, 16) : upper.toUInt(&ok, 10);
    if (!ok)
        return std::nullopt;
    return pid;
}

} // namespace devicemodel
