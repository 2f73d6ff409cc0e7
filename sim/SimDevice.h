#pragma once

#include "sim/DeviceState.h"
#include "sim/MeterLevels.h"
#include "sim/SimReply.h"

// The driver's side of one device: checks a call's sizes, applies it to the
// state and builds the reply. A refused call leaves the state as it was.
class SimDevice
{
public:
    SimReply handle(quint32 code, const QByteArray& input, quint32 outputCapacity);
    // Power-on defaults, as a device reset gives; the model and firmware stay.
    void reset();

    DeviceState& state() { return m_state; }
    const DeviceState& state() const { return m_state; }
    MeterLevels& meter() { return m_meter; }
    const MeterLevels& meter() const { return m_meter; }

private:
    SimReply apply(quint32 code, const QByteArray& input);
    SimReply writeUsbControl(const QByteArray& input);
    SimReply readUsbControl(const QByteArray& input) const;
    void stopAudio();
    void initAudio();
    void restartAudio();

    DeviceState m_state;
    MeterLevels m_meter;
};
