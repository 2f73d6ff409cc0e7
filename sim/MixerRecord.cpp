#include "sim/MixerRecord.h"

#include <QJsonArray>
#include <QtEndian>

#include <cstring>

MixerRecord::MixerRecord(const QByteArray& bytes)
    : m_bytes(bytes)
{
    Q_ASSERT(bytes.size() == kSize);
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

QJsonObject MixerRecord::toJson() const
{
    QJsonArray gains;
    for (int k = 0; k < kOutputGains; ++k)
        gains.append(outputGain(k));
    QJsonArray cells;
    for (int row = 0; row < kRows; ++row) {
        for (int column = 0; column < kColumns; ++column) {
            if (cell(row, column) != 0.0)
                cells.append(QJsonObject { { QStringLiteral("row"), row }, { QStringLiteral("col"), column }, { QStringLiteral("value"), cell(row, column) } });
        }
    }
    return QJsonObject { { QStringLiteral("present"), isPresent() }, { QStringLiteral("outputGains"), gains }, { QStringLiteral("cells"), cells } };
}
