#pragma once

#include "sim/CallEntry.h"
#include "sim/MixerRecord.h"

#include <QString>

// One readable terminal line per record entry, decoding what the device
// received and what it answered.
class CallPrinter
{
public:
    // mixerBefore is the record the device held before this call, so that a
    // new mixer record is shown as what it changed.
    static QString describe(const CallEntry& entry, const MixerRecord& mixerBefore);

private:
    static QString describeAsioNotice(const CallEntry& entry);
    static QString describeAsioRequest(const CallEntry& entry);
    static QString describeCall(const CallEntry& entry, const MixerRecord& mixerBefore);
    static QString describeInput(const CallEntry& entry, const MixerRecord& mixerBefore);
    static QString describeOutput(const CallEntry& entry);
    static QString describeResult(const CallEntry& entry);
};
