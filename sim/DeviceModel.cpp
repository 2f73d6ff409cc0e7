#include "sim/DeviceModel.h"

#include "sim/NumberText.h"

#include <limits>

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
    const std::optional<quint64> number = numbertext::parseUnsigned(upper, std::numeric_limits<quint32>::max());
    if (!number)
        return std::nullopt;
    return static_cast<quint32>(*number);
}

} // namespace devicemodel
