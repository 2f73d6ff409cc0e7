#include "settings/SettingsEngine.h"

#include "settings/SaveFailureNotice.h"
#include "settings/SettingsLog.h"

#include <QSettings>
#include <QThread>
#include <QTimer>

#include <algorithm>

using S = AudioSettings;

namespace {

constexpr unsigned long kSettlePauseMs = 100;
constexpr int kPhoneChipStepMs = 200;
constexpr unsigned int kWdmChannelCount = 4;

const char* const kStopFailed = "停止音频失败，可能是驱动未正确加载或设备未连接。";
const char* const kRestartFailed = "重新启动音频失败，可能是驱动未正确加载或设备未连接。";
const char* const kSetRateFailed = "设置音频采样率失败，可能是驱动未正确加载或设备未连接。";
const char* const kWdmFailed = "设置WDM通道数量失败，可能是驱动未正确加载或设备未连接。";
const char* const kChipOffFailed = "关闭OTG芯片失败，可能是驱动未正确加载或设备未连接。";
const char* const kChipOnFailed = "开启OTG芯片失败，可能是驱动未正确加载或设备未连接。";
const char* const kInitFailed = "初始化音频失败，可能是驱动未正确加载或设备未连接。";
const char* const kGetBufferFailed = "获取音频缓冲区大小失败，可能是驱动未正确加载或设备未连接。";
const char* const kSetBufferFailed = "设置音频缓冲区大小失败，可能是驱动未正确加载或设备未连接。";
const char* const kGetLatencyFailed = "获取USB延迟大小失败，可能是驱动未正确加载或设备未连接。";
const char* const kSetLatencyFailed = "设置USB延迟大小失败，可能是驱动未正确加载或设备未连接。";
const char* const kSafeModeFailed = "设置USB慢速模式失败，可能是驱动未正确加载或设备未连接。";

// By setting, as AudioSettings orders them.
const char* const kSavedMessages[] = { "USB延迟大小设置已保存：", "音频缓冲区大小设置已保存：", "USB慢速模式设置已保存：",
                                       "音频采样率设置已保存：" };

// Logs the failure of a driver step; the sequence ends where this is false.
bool succeeded(bool ok, const char* failureMessage)
{
    if (!ok)
        qCDebug(lcSettings) << failureMessage;
    return ok;
}

// The largest USB latency (frames) that goes with a buffer size (samples).
unsigned int usbLatencyCapFor(unsigned int bufferSize)
{
    if (bufferSize <= 64)
        return 8;
    if (bufferSize <= 128)
        return 16;
    if (bufferSize <= 256)
        return 24;
    return 32;
}

void settlePause()
{
    QThread::msleep(kSettlePauseMs);
}

} // namespace

SettingsEngine::SettingsEngine(QObject* parent)
    : QObject(parent)
    , settingsStore(S::openFile(this))
{
}

// At program end the steps still to come run at once, in the order they were
// due: a phone chip switched off would otherwise stay off until the next start,
// and a start-up would leave the audio engine uninitialised.
SettingsEngine::~SettingsEngine()
{
    while (!pendingSteps.isEmpty())
        runStep(pendingSteps.first().first);
    delete settingsStore;
    delete ioControl;
}

bool SettingsEngine::connect2Driver()
{
    delete ioControl;
    ioControl = new KestrumIoControl;
    ioControl->reconnectWhenLost();
    const bool opened = ioControl->createDevice();
    if (!opened)
        qCDebug(lcSettings) << "Settings dialog: failed to open the driver device.";
    return opened;
}

KestrumIoControl& SettingsEngine::driver()
{
    return ioControl ? *ioControl : unconnectedChannel;
}

void SettingsEngine::choose(S::Setting setting, unsigned int value)
{
    if (chosen[setting] == value)
        return;
    chosen[setting] = value;
    emit selectionChanged();
    apply(setting);
}

// Applied even when chosen already: the driver may run another value.
void SettingsEngine::enforce(S::Setting setting, unsigned int value)
{
    if (chosen[setting] == value)
        apply(setting);
    else
        choose(setting, value);
}

void SettingsEngine::apply(S::Setting setting)
{
    switch (setting) {
    case S::UsbLatency:
        return usbLatencyChanged();
    case S::BufferSize:
        return bufferSizeChanged();
    case S::SafeMode:
        return safeModeChanged();
    case S::SampleRate:
        return sampleRateChanged();
    }
}

void SettingsEngine::loadControlStates()
{
    for (const S::Setting setting : { S::UsbLatency, S::BufferSize, S::SafeMode })
        applyStored(setting);
    if (const auto rate = S::read(*settingsStore, S::SampleRate))
        choose(S::SampleRate, *rate);
    qCDebug(lcSettings) << "已从配置文件加载控件状态";
}

// A stored value already chosen is applied all the same: the interface may
// have come back from a reset at its own defaults. One that is no choice
// changes nothing.
void SettingsEngine::applyStored(S::Setting setting)
{
    const auto value = S::read(*settingsStore, setting);
    if (value && S::isStored(*settingsStore, setting))
        enforce(setting, *value);
    else if (value)
        choose(setting, *value);
}

// The choice goes back to what the driver runs, without running its change again.
void SettingsEngine::fallBack(S::Setting setting)
{
    chosen[setting] = applied[setting];
    emit selectionChanged();
}

void SettingsEngine::saveControlStates()
{
    SaveFailureNotice::instance().sync(settingsStore);
}

void SettingsEngine::store(S::Setting setting)
{
    applied[setting] = chosen[setting];
    chosen.write(*settingsStore, setting);
    // Unchanged, a sync writes nothing; after a failure it tries again.
    if (!SaveFailureNotice::instance().sync(settingsStore)) {
        qCDebug(lcSettings) << "Failed to save settings to" << settingsStore->fileName() << settingsStore->status();
        return;
    }
    qCDebug(lcSettings) << kSavedMessages[setting] << S::text(setting, chosen[setting]);
}

void SettingsEngine::scheduleStep(Step step)
{
    auto* timer = new QTimer(this);
    timer->setSingleShot(true);
    pendingSteps.append({ timer, step });
    connect(timer, &QTimer::timeout, this, [this, timer] { runStep(timer); });
    timer->start(kPhoneChipStepMs);
}

void SettingsEngine::runStep(QTimer* timer)
{
    timer->stop();
    timer->deleteLater();
    const auto pending = std::find_if(pendingSteps.begin(), pendingSteps.end(), [timer](const auto& each) { return each.first == timer; });
    const Step step = pending->second;
    pendingSteps.erase(pending);
    (this->*step)();
}

void SettingsEngine::restartAudio()
{
    succeeded(driver().io_restart_audio(), kRestartFailed);
}

void SettingsEngine::initialiseAudio(const char* failureMessage)
{
    settlePause();
    succeeded(driver().io_audio_init(), failureMessage);
}

void SettingsEngine::sampleRateChanged()
{
    if (!succeeded(driver().io_stop_all_audio(), kStopFailed)) {
        fallBack(S::SampleRate);
        return;
    }
    settlePause();
    const unsigned int rate = chosen[S::SampleRate];
    qCDebug(lcSettings) << "设置音频采样率为：" << rate << "Hz";
    if (!succeeded(driver().io_set_sample_rate(rate), kSetRateFailed)) {
        fallBack(S::SampleRate);
        initialiseAudio(kRestartFailed);
        return;
    }
    applied[S::SampleRate] = rate;
    if (!succeeded(driver().io_set_wdm_num(kWdmChannelCount), kWdmFailed)) {
        initialiseAudio(kRestartFailed);
        return;
    }
    settlePause();
    if (!succeeded(driver().io_audio_init(), kRestartFailed))
        return;
    scheduleStep(&SettingsEngine::sampleRateChipOffStep);
    store(S::SampleRate);
}

void SettingsEngine::sampleRateChipOffStep()
{
    if (succeeded(driver().io_set_otg_chip_off(), kChipOffFailed))
        scheduleStep(&SettingsEngine::sampleRateChipOnStep);
}

void SettingsEngine::sampleRateChipOnStep()
{
    succeeded(driver().io_set_otg_chip_on(), kChipOnFailed);
    qCDebug(lcSettings) << "设置采样频率完成";
}

void SettingsEngine::bufferSizeChanged()
{
    const unsigned int size = chosen[S::BufferSize];
    qCDebug(lcSettings) << "设置音频缓冲区大小为：" << size << "samples";
    unsigned int current = 0;
    const bool currentRead = driver().io_get_buffer_size(&current);
    qCDebug(lcSettings) << "当前音频缓冲区大小：" << current;
    if (!succeeded(currentRead, kGetBufferFailed)) {
        fallBack(S::BufferSize);
        return;
    }
    // The driver runs the choice already: nothing to send, but it is the
    // user's choice from now on and comes back on the next connect.
    if (current == size) {
        store(S::BufferSize);
        return;
    }

    const unsigned int latency = usbLatencyCapFor(size);
    qCDebug(lcSettings) << "设置USB延迟大小为：" << latency << "Frame";
    unsigned int usb = 0;
    if (!succeeded(driver().io_get_usb_buffer_size(&usb), kGetLatencyFailed)) {
        fallBack(S::BufferSize);
        return;
    }
    qCDebug(lcSettings) << "当前USB延迟大小：" << usb;
    if (latency < usb)
        enforce(S::UsbLatency, latency);
    if (!reprogram(S::BufferSize, [this, size] { return driver().io_set_buffer_size(size); }, kSetBufferFailed))
        return;
    qCDebug(lcSettings) << "音频缓冲区大小设置成功：" << size << "samples";
    store(S::BufferSize);
}

void SettingsEngine::usbLatencyChanged()
{
    const unsigned int latency = chosen[S::UsbLatency];
    qCDebug(lcSettings) << "设置USB延迟大小为：" << latency << "Frame";
    // The read's result is not needed: a failed read leaves 0, which differs
    // from every latency, so the change goes on and fails at its first write.
    unsigned int usb = 0;
    driver().io_get_usb_buffer_size(&usb);
    qCDebug(lcSettings) << "当前USB延迟大小：" << usb;
    if (usb == latency || reprogram(S::UsbLatency, [this, latency] { return driver().io_set_usb_buffer_size(latency); }, kSetLatencyFailed))
        store(S::UsbLatency);
}

void SettingsEngine::safeModeChanged()
{
    const bool on = chosen[S::SafeMode];
    const auto set = [this, on] { return on ? driver().io_set_safe_mode_on() : driver().io_set_safe_mode_off(); };
    if (reprogram(S::SafeMode, set, kSafeModeFailed))
        store(S::SafeMode);
}

// Stop, set, restart. A refusal falls back to what the driver runs, and one
// after the stop must not leave the engine silent. True when all went through.
bool SettingsEngine::reprogram(S::Setting setting, const std::function<bool()>& set, const char* setFailed)
{
    if (!succeeded(driver().io_stop_all_audio(), kStopFailed)) {
        fallBack(setting);
        return false;
    }
    if (!succeeded(set(), setFailed)) {
        fallBack(setting);
        restartAudio();
        return false;
    }
    applied[setting] = chosen[setting];
    return succeeded(driver().io_restart_audio(), kRestartFailed);
}

void SettingsEngine::startSetup()
{
    const unsigned int rateBeforeLoading = chosen[S::SampleRate];
    loadControlStates();
    qCDebug(lcSettings) << "加载控件状态完成";
    qCDebug(lcSettings) << "当前音频采样率为：" << driver().io_get_samplerate();
    // Loading programmed the rate only if it changed the choice; 44100, and a
    // re-plugged interface, must still get the rate chosen.
    const unsigned int rate = chosen[S::SampleRate];
    if (rate == 44100 || rate == rateBeforeLoading)
        programRateAtStartup(rate);
}

void SettingsEngine::programRateAtStartup(unsigned int rate)
{
    if (!succeeded(driver().io_stop_all_audio(), kStopFailed))
        return;
    qCDebug(lcSettings) << "停止音频成功，开始加载控件状态";
    settlePause();
    if (!succeeded(driver().io_set_sample_rate(rate), kSetRateFailed)
        || !succeeded(driver().io_set_wdm_num(kWdmChannelCount), kWdmFailed)) {
        initialiseAudio(kInitFailed);
        return;
    }
    scheduleStep(&SettingsEngine::startupChipOffStep);
}

// Unlike the rate change, start-up goes on after a refused chip-off: the
// audio engine must still be initialised.
void SettingsEngine::startupChipOffStep()
{
    succeeded(driver().io_set_otg_chip_off(), kChipOffFailed);
    scheduleStep(&SettingsEngine::startupChipOnStep);
}

void SettingsEngine::startupChipOnStep()
{
    succeeded(driver().io_set_otg_chip_on(), kChipOnFailed);
    if (succeeded(driver().io_audio_init(), kInitFailed))
        qCDebug(lcSettings) << "设置初始化完成";
}
