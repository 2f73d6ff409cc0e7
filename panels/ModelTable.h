#pragma once

#include <vector>

// What one model's panel is made of, as a table the shared panel builds,
// binds and restores (see CONTRIBUTING.md, "A fourth model").
namespace ModelTable {

// The volume floor, silent, and the matrix row of output gain 0: output
// gain k belongs to row kFirstOutputRow + k.
constexpr int kSilentDb = -80;
constexpr int kFirstOutputRow = 64;

// Matrix cell (row, column): columns are sources, rows destinations.
struct MixerCell {
    int row;
    int column;
};
// The phone input's left and right source columns.
constexpr int kPhoneLeftColumn = 2;
constexpr int kPhoneRightColumn = 3;

// What a stored control does. Microphone roles take the channel number,
// output roles the output's place in Model::outputs.
enum class Role { Gain, Instrument, Pad, Phantom, Direct, Volume, Mute, Dim, Phone };
constexpr int kMicRoles = 5;
constexpr int kOutputRoles = 4;

// One control the ini file keeps. A model has the controls it lists, and
// no others; each one's key comes from its microphone's or output's keys.
struct Control {
    Role role;
    int index;
};

// A microphone's ini keys, by role from Gain to Direct.
struct MicKeys {
    const char* byRole[kMicRoles];
};
// The keys of the models with one microphone.
extern const MicKeys loneMic;

// Which lines an output logs besides its failures.
enum OutputLogs {
    LogsChange = 1, // the volume handler's argument, first
    LogsLevel = 2, // an accepted level, in dB
    LogsGain = 4, // an accepted level, as the linear gain
    // the MUTE clicks; such an output also hands its volume handler the
    // floor, not the knob, when muting, which LogsChange shows
    LogsMute = 8,
    LogsDim = 16, // the DIM clicks
};

// An output's texts and keys: the speaker's or the headphones'.
struct OutputKind {
    const char* title;
    const char* phoneCaption;
    const char* names[4]; // volume, mute, dim, phone level
    const char* changedLine;
    const char* setLine;
    const char* failureLine;
    const char* phoneSetLine;
    const char* phoneFailureLine;
    const char* clickLines[2][2]; // MUTE, DIM; each off, on
    const char* keys[kOutputRoles]; // by role from Volume to Phone
    const char* strip; // the first half of its controls' names
};
extern const OutputKind speaker;
extern const OutputKind headphone;

// An output drives output gains firstGain and firstGain + 1.
struct Output {
    const OutputKind* kind;
    int firstGain;
    int logs;
};

struct Model {
    const char* iniFileName; // starts with a slash
    const char* openFailureLine;
    // Set to 100 at the start; each must be accepted.
    std::vector<int> presetChannels;
    int maxGain;
    int gainDisplayOffset;
    // Whether a stretch follows each input column's switches.
    bool stretchBelowSwitches;
    // Channel 1 first; the names carry the channel when there are several.
    std::vector<const MicKeys*> mics;
    std::vector<Output> outputs;
    // At unity from the start, besides the routing every model has.
    std::vector<MixerCell> unityCells;
    // In the order they are restored.
    std::vector<Control> controls;
    // Logged after each successful write, when set.
    const char* savedLine;
};

} // namespace ModelTable
