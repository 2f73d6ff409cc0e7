#pragma once

#include <QByteArray>
#include <QJsonObject>

// The mixer record the panel sends whole: 256 x 32 matrix cells, then 96
// output gains, all little-endian IEEE doubles. Empty until the first one
// arrives.
class MixerRecord
{
public:
    static constexpr int kRows = 256;
    static constexpr int kColumns = 32;
    static constexpr int kOutputGains = 96;
    static constexpr int kGainsOffset = kRows * kColumns * 8;
    static constexpr int kSize = kGainsOffset + kOutputGains * 8;

    MixerRecord() = default;
    // bytes must hold kSize bytes.
    explicit MixerRecord(const QByteArray& bytes);

    bool isPresent() const { return !m_bytes.isEmpty(); }
    double cell(int row, int column) const;
    double outputGain(int index) const;

    // {"present", "outputGains": [96], "cells": [{"row", "col", "value"}]},
    // the cells that are not zero only.
    QJsonObject toJson() const;

private:
    double doubleAt(int offset) const;

    QByteArray m_bytes;
};
