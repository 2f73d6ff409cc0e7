#include "sim/MixerRecord.h"

#include <QList>
#include <QStringList>
#include <QtEndian>

#include <cstring>

namespace {

// Enough cells to see what a fader move did without flooding the terminal.
constexpr int kCellsShown = 6;

constexpr char kZeros[8] = {};

} // namespace

MixerRecord::MixerRecord(const QByteArray& bytes)
    : m_bytes(bytes)
{
    Q_ASSERT(bytes.size() == kSize);
}

bool MixerRecord::isPresent() const
{
    return !m_bytes.isEmpty();
}

double MixerRecord::doubleAt(int offset) const
{
    if (!isPresent())
        return 0.0;
    const quint64 bits = qFromLittleEndian<quint64>(m_bytes.constData() + offset);
    double value;
    std::memcpy(&value, &bits, sizeof value);
    return value;
}

double MixerRecord::cell(int row, int column) const
{
    return doubleAt(8 * (kColumns * row + column));
}

double MixerRecord::outputGain(int index) const
{
    return doubleAt(kGainsOffset + 8 * index);
}

QString MixerRecord::formatValue(double value)
{
    return QString::number(value, 'g', 6);
}

// Compares the stored bytes, so that a NaN written twice is no change and
// -0.0 over 0.0 is one. A missing record counts as all zeros.
bool MixerRecord::differsAt(const MixerRecord& other, int offset) const
{
    const char* mine = isPresent() ? m_bytes.constData() + offset : kZeros;
    const char* theirs = other.isPresent() ? other.m_bytes.constData() + offset : kZeros;
    return std::memcmp(mine, theirs, 8) != 0;
}

QString MixerRecord::describeGainChanges(const MixerRecord& previous) const
{
    // Gains set together (a stereo pair, a group) usually share a value.
    QList<double> values;
    QList<QStringList> indexes;
    for (int k = 0; k < kOutputGains; ++k) {
        if (!differsAt(previous, kGainsOffset + 8 * k))
            continue;
        const double value = outputGain(k);
        qsizetype at = values.indexOf(value);
        if (at < 0) {
            values.append(value);
            indexes.append(QStringList());
            at = values.size() - 1;
        }
        indexes[at].append(QString::number(k));
    }
    QStringList parts;
    for (qsizetype i = 0; i < values.size(); ++i) {
        const QString noun = indexes[i].size() == 1 ? QStringLiteral("output gain") : QStringLiteral("output gains");
        parts.append(QStringLiteral("%1 %2 = %3").arg(noun, indexes[i].join(QLatin1Char(',')), formatValue(values[i])));
    }
    return parts.join(QStringLiteral("; "));
}

QString MixerRecord::describeCellChanges(const MixerRecord& previous) const
{
    QStringList parts;
    int changed = 0;
    for (int row = 0; row < kRows; ++row) {
        for (int column = 0; column < kColumns; ++column) {
            if (!differsAt(previous, 8 * (kColumns * row + column)))
                continue;
            if (++changed <= kCellsShown)
                parts.append(QStringLiteral("cell (%1,%2) = %3").arg(row).arg(column).arg(formatValue(cell(row, column))));
        }
    }
    if (changed > kCellsShown)
        parts.append(QStringLiteral("%1 more cells").arg(changed - kCellsShown));
    return parts.join(QStringLiteral("; "));
}

QString MixerRecord::describeChangesFrom(const MixerRecord& previous) const
{
    QStringList parts;
    const QString gains = describeGainChanges(previous);
    if (!gains.isEmpty())
        parts.append(gains);
    const QString cells = describeCellChanges(previous);
    if (!cells.isEmpty())
        parts.append(cells);
    return parts.isEmpty() ? QStringLiteral("no change") : parts.join(QStringLiteral("; "));
}
