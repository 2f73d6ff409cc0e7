#pragma once

#include "panels/ModelPanel.h"

// The panel of the KX1: one microphone input with instrument input, pad and
// phantom power, the headphone output with MUTE and DIM, and the phone
// input's level into the headphones. Every change goes to the device at once
// and into "kx1.ini".
class kx1 : public ModelPanel
{
public:
    kx1();
};
