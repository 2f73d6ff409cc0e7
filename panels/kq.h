#pragma once

#include "panels/ModelPanel.h"

// The panel of the KQ: one microphone input and the headphone output with
// MUTE and DIM; the phone input always reaches the headphones at unity.
// Every change goes to the device at once and into "kq.ini".
class kq : public ModelPanel
{
public:
    kq();
};
