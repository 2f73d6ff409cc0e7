#include "sim/MeterLevels.h"

#include <QtEndian>

#include <cmath>

namespace {

constexpr double kFullScale = 2147483647.0;
constexpr double kPeriodMs = 4000.0;
constexpr double kCentreDb = -33.0;
constexpr double kSwingDb = 27.0; // so the level runs from -60 to -6 dBFS
constexpr double kTwoPi = 6.283185307179586;

} // namespace

MeterLevels::MeterLevels()
{
    m_clock.start();
}

void MeterLevels::setFixed(const QList<qint32>& leading)
{
    m_fixed = leading.mid(0, kCount);
    m_fixed.resize(kCount, 0);
    m_moving = false;
}

void MeterLevels::setMoving()
{
    m_moving = true;
    m_fixed.clear();
}

bool MeterLevels::isMoving() const
{
    return m_moving;
}

qint32 MeterLevels::movingLevel(int index, qint64 elapsedMs) const
{
    // Neighbouring entries are out of phase so that the meters do not move as one.
    const double phase = kTwoPi * (index * 7 % kCount) / kCount;
    const double db = kCentreDb + kSwingDb * std::sin(kTwoPi * elapsedMs / kPeriodMs + phase);
    return static_cast<qint32>(std::lround(kFullScale * std::pow(10.0, db / 20.0)));
}

QList<qint32> MeterLevels::current() const
{
    if (!m_moving)
        return m_fixed;
    const qint64 now = m_clock.elapsed();
    QList<qint32> levels(kCount);
    for (int i = 0; i < kCount; ++i)
        levels[i] = movingLevel(i, now);
    return levels;
}

QByteArray MeterLevels::toBytes() const
{
    const QList<qint32> levels = current();
    QByteArray bytes(kCount * 4, Qt::Uninitialized);
    for (int i = 0; i < kCount; ++i)
        qToLittleEndian<qint32>(levels[i], bytes.data() + 4 * i);
    return bytes;
}
