#pragma once

#include <QByteArray>
#include <QElapsedTimer>
#include <QList>

// The 192 meter levels the device reports: a slowly moving test signal, or
// values fixed on request so that a test can check what the panel shows.
class MeterLevels
{
public:
    static constexpr int kCount = 192;

    MeterLevels();

    // Entries 0.. take the given values, the rest read 0.
    void setFixed(const QList<qint32>& leading);
    void setMoving();
    bool isMoving() const;

    QList<qint32> current() const;
    QByteArray toBytes() const;

private:
    qint32 movingLevel(int index, qint64 elapsedMs) const;

    QElapsedTimer m_clock;
    QList<qint32> m_fixed;
    bool m_moving = true;
};
