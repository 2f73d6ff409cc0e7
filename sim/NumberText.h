#pragma once

#include <QString>
#include <QtGlobal>

#include <optional>

// Numbers as a person types them on the command line: decimal, or hex with 0x.
namespace numbertext {

std::optional<quint64> parseUnsigned(const QString& text, quint64 max);

} // namespace numbertext
