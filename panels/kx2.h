#pragma once

#include "panels/ModelPanel.h"

// The panel of the KX2: two microphone channels, a speaker and a headphone
// output each with MUTE and DIM, and the phone input's level into both.
// Every control change goes to the device at once and into "kx2.ini".
class kx2 : public ModelPanel
{
public:
    kx2();
};
