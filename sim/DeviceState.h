#pragma once

#include "sim/DeviceModel.h"
#include "sim/MixerRecord.h"

#include <QByteArray>
#include <QMap>

// What the device remembers between calls. The per-channel maps hold only
// the channels the panel has set.
struct DeviceState {
    quint32 pid = devicemodel::kKx2;
    QByteArray firmware = QByteArrayLiteral("K2.06.0915");

    quint32 sampleRate = 48000;
    quint32 bufferSize = 256;
    quint32 usbLatency = 16;
    bool safeMode = false;
    quint32 wdmCount = 2;

    bool audioRunning = true;
    int audioInits = 0;
    int audioRestarts = 0;
    int audioStops = 0;

    quint16 masterVolume = 0xFFFF;
    bool masterMute = false;

    MixerRecord mixer;

    QMap<int, quint16> micGain;
    QMap<int, bool> phantom;
    QMap<int, bool> pad;
    QMap<int, bool> instrument;
    QMap<int, quint16> outputVolume;
    bool phoneChip = true;
    bool feedbackClosed = false;
};
