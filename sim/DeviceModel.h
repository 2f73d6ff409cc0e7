#pragma once

#include <QString>
#include <QtGlobal>

#include <optional>

// The models the driver serves, known by the product ID the device reports.
namespace devicemodel {

constexpr quint32 kKx1 = 1;
constexpr quint32 kKx2 = 2;
constexpr quint32 kKq = 15;

// "KX2", or "PID 7" for an ID no model has.
QString name(quint32 pid);

// Accepts KX1, KX2, KQ (any case) or a product ID.
std::optional<quint32> parse(const QString& text);

} // namespace devicemodel
