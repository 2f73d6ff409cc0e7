#pragma once

#include <cstdint>

// The records exchanged with the kernel driver, byte for byte as it expects
// them. Doubles and integers are little-endian, the byte order of every
// machine the panel runs on.

// The mixing matrix and output gains, always sent whole. Columns are source
// channels, rows destinations; output gain k belongs to matrix row 64 + k.
// Gains are linear: 0.0 silent, 1.0 unity.
struct _MIXER_FADER_DATA {
    static constexpr int kRows = 256;
    static constexpr int kColumns = 32;
    static constexpr int kOutputs = 96;

    double matrixGains[kRows][kColumns];
    double outputGains[kOutputs];
};
static_assert(sizeof(_MIXER_FADER_DATA) == 66304, "the driver expects a 66304-byte mixer record");

// Peak sample per meter channel; full scale is 2147483647.
struct _MIXER_METER_DATA {
    static constexpr int kChannels = 192;

    std::int32_t level[kChannels];
};
static_assert(sizeof(_MIXER_METER_DATA) == 768, "the driver sends a 768-byte meter record");
