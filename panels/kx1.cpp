#include "panels/kx1.h"

using namespace ModelTable;

namespace {

// MUTE and DIM come before the headphone knob, so the stored level is never
// sent unmuted or undimmed first.
const Model kKx1 {
    "/kx1.ini", "Failed to create device in kx1.", { 1, 2 }, 42, 0, false,
    { &loneMic },
    { { &headphone, 0, LogsGain | LogsMute | LogsDim } },
    {},
    {
        { Role::Instrument, 1 }, { Role::Pad, 1 }, { Role::Phantom, 1 }, { Role::Direct, 1 }, { Role::Gain, 1 },
        { Role::Mute, 0 }, { Role::Dim, 0 }, { Role::Volume, 0 }, { Role::Phone, 0 },
    },
    nullptr,
};

} // namespace

kx1::kx1()
    : ModelPanel(kKx1)
{
}
