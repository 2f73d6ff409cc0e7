#include "panels/kx2.h"

using namespace ModelTable;

namespace {

const MicKeys kMic1 { { "Dial/Mic1Value", nullptr, "Button/Mic120dBIsChecked", "Button/Mic148VIsChecked", "Button/MonitorMic1IsChecked" } };
const MicKeys kMic2 { { "Dial/Mic2Value", nullptr, "Button/Mic220dBIsChecked", "Button/Mic248VIsChecked", "Button/MonitorMic2IsChecked" } };

const Model kKx2 {
    "/kx2.ini", "Failed to create device in kx2.", { 1, 2, 5, 6 },
    // The preamp's gain starts at 9 dB, so the knob shows the step plus 9.
    56, 9, true,
    { &kMic1, &kMic2 },
    { { &speaker, 0, LogsChange | LogsLevel | LogsMute }, { &headphone, 4, LogsChange | LogsLevel } },
    { { 100, 0 }, { 101, 1 }, { 132, 0 }, { 133, 1 } },
    // Each output's MUTE and DIM come before its volume knob, so the stored
    // level is never sent unmuted or undimmed first.
    {
        { Role::Pad, 1 }, { Role::Phantom, 1 }, { Role::Direct, 1 }, { Role::Gain, 1 },
        { Role::Gain, 2 }, { Role::Pad, 2 }, { Role::Phantom, 2 }, { Role::Direct, 2 },
        { Role::Mute, 0 }, { Role::Dim, 0 }, { Role::Volume, 0 },
        { Role::Mute, 1 }, { Role::Dim, 1 }, { Role::Volume, 1 },
        { Role::Phone, 1 }, { Role::Phone, 0 },
    },
    "控件状态已保存到配置文件",
};

} // namespace

kx2::kx2()
    : ModelPanel(kKx2)
{
}
