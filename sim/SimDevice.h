#pragma once

#include "sim/MixerRecord.h"
#include "sim/TextValue.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QList>
#include <QMap>

// The device's answer to one call: status TRUE/FALSE, the Windows error
// number when FALSE, and the output bytes.
struct SimReply {
    bool ok = true;
    quint32 error = 0;
    QByteArray output;

    static SimReply failure(quint32 error) { return SimReply { false, error, {} }; }
};

// What the device remembers between calls. The per-channel maps hold only
// the channels the panel has set.
struct DeviceState {
    quint32 pid = textvalue::kKx2;
    QByteArray firmware = QByteArrayLiteral("K2.06.0915");

    quint32 sampleRate = 48000;
    quint32 bufferSize = 256;
    quint32 usbLatency = 16;
    bool safeMode = false;
    quint32 wdmCount = 2;

    bool audioRunning = true;

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

// The driver's side of one device: checks a call's sizes, applies it to the
// state and builds the reply. A refused call leaves the state as it was.
class SimDevice
{
public:
    static constexpr int kMeterCount = 192;

    SimDevice();

    SimReply handle(quint32 code, const QByteArray& input, quint32 outputCapacity);
    // Power-on defaults, as a device reset gives; the model and firmware stay.
    void reset();

    // Meters 0.. fixed at these values and the rest at 0; none: a slowly
    // moving test signal.
    void setMeter(const QList<qint32>& fixed) { m_fixedMeter = fixed; }
    bool meterMoving() const { return m_fixedMeter.isEmpty(); }

    DeviceState& state() { return m_state; }
    const DeviceState& state() const { return m_state; }

private:
    SimReply apply(quint32 code, const QByteArray& input);
    SimReply writeUsbControl(const QByteArray& input);
    QByteArray meterLevels() const;

    DeviceState m_state;
    QList<qint32> m_fixedMeter;
    QElapsedTimer m_clock;
};
