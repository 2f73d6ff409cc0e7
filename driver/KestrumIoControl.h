#pragma once

#include "driver/MixerRecords.h"
#include "platform/DeviceIo.h"

#include <cstdint>
#include <functional>
#include <vector>

class UsbControlPacket;

// One open channel to the kernel driver: one handle to one device object,
// one operation per driver command, each a single synchronous I/O-control
// call. Every user of the driver owns its own object; objects never share a
// handle and are not copied.
//
// Commands on a channel that is not open send nothing and fail. Reads store
// into the caller's variable only when the driver call succeeded. A channel
// that a late or malformed reply left unusable fails that call and, when its
// owner asked for it, opens the device again on the next one; where a failed
// call leaves the handle usable, as on Windows, it never needs to. A channel
// that does not reopen stays failed: the main window's watch counts on that
// to notice a device that went away and came back.
//
// Once a call or an open has timed out, every channel leaves the device alone
// until control is back in the event loop, so that one callback working
// through several channels waits at most one call's limit.
class KestrumIoControl
{
public:
    KestrumIoControl() = default;
    ~KestrumIoControl();
    KestrumIoControl(const KestrumIoControl&) = delete;
    KestrumIoControl& operator=(const KestrumIoControl&) = delete;

    // How many opens and calls of this process, on any channel, have timed
    // out (error 121) so far. One that did leaves the device unanswered: a
    // caller working through several channels compares the count before and
    // after a step and leaves the device alone for the rest of its turn.
    static unsigned int timedOutCalls();

    // Opens the first device object of DeviceSymlinks that opens.
    bool createDevice();
    void closeHandle();
    // A lost channel opens the device again on its next call; reconnected
    // runs inside that call: requests the device lost with the failed call
    // (and any made while it could not be opened) are for the owner to send
    // again.
    void reconnectWhenLost(std::function<void()> handler = {});

    bool io_get_current_sample_rate(unsigned int* rate);
    unsigned int io_get_samplerate();
    bool io_set_sample_rate(unsigned int rate);
    bool io_set_mixer(_MIXER_FADER_DATA& data);
    bool io_set_buffer_size(unsigned int size);
    bool io_get_buffer_size(unsigned int* size);
    bool io_get_usb_buffer_size(unsigned int* size);
    bool io_set_usb_buffer_size(unsigned int size);
    bool io_get_meter_data(_MIXER_METER_DATA& data);
    bool io_stop_all_audio();
    bool io_audio_init();
    bool io_restart_audio();
    bool io_get_device_pid(unsigned int& pid);
    bool io_set_wdm_num(unsigned int n);
    int io_get_wdm_num();
    bool io_set_safe_mode_on();
    bool io_set_safe_mode_off();
    bool io_write_usb_control(unsigned char* packet, unsigned int length);
    bool io_read_usb_control(const std::vector<unsigned char>& request, std::vector<unsigned char>& reply);
    bool io_get_firmware_version(unsigned char* buffer, unsigned int length);
    bool io_set_master_volume(unsigned short volume);
    bool io_get_master_volume(unsigned short* volume);
    bool io_set_master_mute(bool mute);
    bool io_get_master_mute(bool& mute);

    // USB control commands. They report whether the driver accepted the
    // packet: false when nothing could be sent or the driver refused it.
    bool io_set_out_volume(int channel, int value);
    bool io_set_mic_volume(int channel, int value);
    bool io_set_mic_20db(int channel, int state);
    bool io_set_mic_48v(int channel, int state);
    bool io_set_otg_chip_off();
    bool io_set_otg_chip_on();
    bool io_mic_instr_switch(int channel, int state);
    bool io_close_feedback();

    // dB to linear gain, clamped to -80 dB (silence) .. +6 dB.
    static double dbToValue(double dB);
    // Peak sample to dB full scale; 0 gives negative infinity.
    static double pcmToDb(int sample);

private:
    bool isOpen() const { return deviceHandle != platform::kInvalidDeviceHandle; }
    // One driver call; reopens a lost channel first.
    platform::IoControlResult call(std::uint32_t code, const void* input, std::uint32_t inputLength,
                                   void* output, std::uint32_t outputCapacity);
    void reconnect();
    bool sendOnly(std::uint32_t code, const void* input = nullptr, std::uint32_t inputLength = 0);
    bool sendWord(std::uint32_t code, std::uint32_t value);
    // Stores into value only when the driver call succeeded.
    template <typename T>
    bool readInto(std::uint32_t code, T& value);
    bool sendUsbPacket(const UsbControlPacket& packet, const char* errorPrefix,
                       const char* unknownErrorPrefix = nullptr);

    platform::DeviceHandle deviceHandle = platform::kInvalidDeviceHandle;
    bool channelLost = false;
    bool reconnects = false;
    std::function<void()> reconnected;
};
