#include "sim/NumberText.h"

namespace numbertext {

std::optional<quint64> parseUnsigned(const QString& text, quint64 max)
{
    bool ok = false;
    const quint64 value = text.startsWith(QLatin1String("0x"), Qt::CaseInsensitive) ? text.mid(2).toULongLong(&ok, 16)
                                                                                    : text.toULongLong(&ok, 10);
    if (!ok || value > max)
        return std::nullopt;
    return value;
}

} // namespace numbertext
