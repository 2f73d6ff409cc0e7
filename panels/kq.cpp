#include "panels/kq.h"

using namespace ModelTable;

namespace {

// With no phone knob, the phone input always reaches the headphones at
// unity: cells (64,2) and (65,3).
const Model kKq {
    "/kq.ini", "Failed to create device in kq.", { 1, 2 }, 42, 0, false,
    { &loneMic },
    { { &headphone, 0, LogsMute | LogsDim } },
    { { 64, 2 }, { 65, 3 } },
    { { Role::Direct, 1 }, { Role::Gain, 1 }, { Role::Mute, 0 }, { Role::Dim, 0 }, { Role::Volume, 0 } },
    nullptr,
};

} // namespace

kq::kq()
    : ModelPanel(kKq)
{
}
