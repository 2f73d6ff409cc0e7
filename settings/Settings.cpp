#include "settings/Settings.h"

#include "settings/SettingsLog.h"
#include "platform/NamedPipe.h"
#include "resources/AppIcon.h"
#include "settings/ThreadSettingsPip.h"
#include "settings/SaveFailureNotice.h"

#include <QComboBox>
#include <QDir>
#include <QLabel>
#include <QPushButton>
#include <QSettings>
#include <QSignalBlocker>
#include <QStandardPaths>
#include <QThread>
#include <QTimer>
#include <QVBoxLayout>

#include <algorithm>

namespace {

const QString kPanelToAsioPipe = QStringLiteral("\\\\.\\pipe\\KestrumPannelToASIO");
constexpr char kResetNotice = 0x31;
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

const QString kBufferSizeKey = QStringLiteral("Audio/BufferSize");
const QString kLatencyKey = QStringLiteral("USB/LatencySize");
const QString kSampleRateKey = QStringLiteral("Audio/SampleRate");
const QString kSlowModeKey = QStringLiteral("USB/SlowMode");

const QStringList kBufferSizes { "48", "64", "96", "128", "192", "256", "512", "1024" };
const QStringList kLatencies { "8", "16", "24", "32" };
const QStringList kSampleRates { "44100", "48000" };
const QStringList kSlowModes { "Disabled", "Enabled" };

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

Settings::Settings()
{
    qCDebug(lcSettings) << "Settings dialog created.";
    setWindowTitle(tr("Settings"));
    setStyleSheet("QDialog { background-color: #2c313c; color: white; }");

    const QString directory = QStandardPaths::writableLocation(QStandardPaths::AppDataLocation);
    QDir().mkpath(directory);
    settingsStore = new QSettings(directory + "/setting.ini", QSettings::IniFormat, this);

    buildLayout();
    startAsioListener();
}

Settings::~Settings()
{
    finishPendingSteps();
    delete settingsStore;
    delete ioControl;
    qCDebug(lcSettings) << "Settings dialog closed and resources cleaned up.";
}

void Settings::buildLayout()
{
    mainLayout = new QVBoxLayout(this);
    mainLayout->setAlignment(Qt::AlignCenter);
    mainLayout->setContentsMargins(40, 10, 40, 40);

    setWindowIcon(AppIcon::icon());

    auto* title = new QLabel(tr("Settings"), this);
    title->setAlignment(Qt::AlignCenter);
    title->setStyleSheet("font-size: 18px; font-weight: bold; color: #00FFFF;");
    mainLayout->addWidget(title);

    // Handlers are connected only once each list is filled, so filling runs none.
    audioBufferSizeComboBox = addChoice(tr("Buffer Size:"), kBufferSizes);
    connect(audioBufferSizeComboBox, &QComboBox::currentIndexChanged, this, &Settings::audioBufferSizeComboBoxInput);
    usbLatencySizeComboBox = addChoice(tr("USB Latency Size:"), kLatencies);
    usbLatencySizeComboBox->setCurrentIndex(0);
    connect(usbLatencySizeComboBox, &QComboBox::currentIndexChanged, this, &Settings::usbLatencySizeComboBoxInput);
    audioSampleRateComboBox = addChoice(tr("Samplerate:"), kSampleRates);
    connect(audioSampleRateComboBox, &QComboBox::currentIndexChanged, this, &Settings::audioSampleRateComboBoxInput);
    usbSlowModeComboBox = addChoice(tr("Safe Mode:"), kSlowModes);
    connect(usbSlowModeComboBox, &QComboBox::currentIndexChanged, this, &Settings::usbSlowModeComboBoxInput);

    mainLayout->addSpacing(20);
    auto* okButton = new QPushButton(tr("OK"), this);
    okButton->setStyleSheet("background-color: #008888; color: white; font-size: 14px;");
    mainLayout->addWidget(okButton, 0, Qt::AlignCenter);
    connect(okButton, &QPushButton::clicked, this, &Settings::setupNoticAsio);
    mainLayout->addStretch();
}

QComboBox* Settings::addChoice(const QString& label, const QStringList& entries)
{
    auto* caption = new QLabel(label, this);
    caption->setAlignment(Qt::AlignCenter);
    caption->setStyleSheet("font-size: 14px; color: #008888;");
    mainLayout->addWidget(caption);
    auto* box = new QComboBox(this);
    for (const QString& entry : entries)
        box->addItem(entry);
    mainLayout->addWidget(box);
    rememberApplied(box);
    return box;
}

void Settings::startAsioListener()
{
    auto* listener = new ThreadSettingsPip(this);
    connect(listener, &ThreadSettingsPip::progressUpdated, this, &Settings::pipThreadCallback);
    listener->start(QThread::InheritPriority);
}

bool Settings::connect2Driver()
{
    delete ioControl;
    ioControl = new KestrumIoControl;
    ioControl->reconnectWhenLost();
    const bool opened = ioControl->createDevice();
    if (!opened)
        qCDebug(lcSettings) << "Settings dialog: failed to open the driver device.";
    return opened;
}

KestrumIoControl& Settings::driver()
{
    return ioControl ? *ioControl : unconnectedChannel;
}

void Settings::loadControlStates()
{
    applyStored(usbLatencySizeComboBox, kLatencyKey, "8", &Settings::usbLatencySizeComboBoxInput);
    applyStored(audioBufferSizeComboBox, kBufferSizeKey, "192", &Settings::audioBufferSizeComboBoxInput);
    applyStored(usbSlowModeComboBox, kSlowModeKey, "Disabled", &Settings::usbSlowModeComboBoxInput);
    audioSampleRateComboBox->setCurrentText(settingsStore->value(kSampleRateKey, "44100").toString());
    qCDebug(lcSettings) << "已从配置文件加载控件状态";
}

// Selecting a different entry runs the box's change through its signal. A
// stored value the box already shows is applied all the same: the interface
// may have come back from a reset at its own defaults.
void Settings::applyStored(QComboBox* box, const QString& key, const char* fallback, void (Settings::*change)(int))
{
    const QString value = settingsStore->value(key, fallback).toString();
    if (box->currentText() != value)
        box->setCurrentText(value);
    else if (settingsStore->contains(key))
        (this->*change)(box->currentIndex());
}

void Settings::rememberApplied(const QComboBox* box)
{
    appliedChoice[box] = box->currentText();
}

// The box goes back to what the driver runs, without running its change again.
void Settings::showApplied(QComboBox* box)
{
    const QSignalBlocker blocker(box);
    box->setCurrentText(appliedChoice.value(box));
}

void Settings::saveControlStates()
{
    SaveFailureNotice::instance().sync(settingsStore);
}

void Settings::store(const QString& key, const QComboBox* box, const char* savedMessage)
{
    rememberApplied(box);
    if (settingsStore->value(key).toString() != box->currentText())
        settingsStore->setValue(key, box->currentText());
    // Unchanged, a sync writes nothing; after a failure it tries again.
    if (!SaveFailureNotice::instance().sync(settingsStore)) {
        qCDebug(lcSettings) << "Failed to save settings to" << settingsStore->fileName() << settingsStore->status();
        return;
    }
    qCDebug(lcSettings) << savedMessage << box->currentText();
}

void Settings::scheduleStep(Step step)
{
    auto* timer = new QTimer(this);
    timer->setSingleShot(true);
    pendingSteps.append({ timer, step });
    connect(timer, &QTimer::timeout, this, [this, timer] { runStep(timer); });
    timer->start(kPhoneChipStepMs);
}

void Settings::runStep(QTimer* timer)
{
    timer->stop();
    timer->deleteLater();
    const auto pending = std::find_if(pendingSteps.begin(), pendingSteps.end(), [timer](const auto& each) { return each.first == timer; });
    const Step step = pending->second;
    pendingSteps.erase(pending);
    (this->*step)();
}

// At program end the steps still to come run at once, in the order they were
// due: a phone chip switched off would otherwise stay off until the next start,
// and a start-up would leave the audio engine uninitialised.
void Settings::finishPendingSteps()
{
    while (!pendingSteps.isEmpty())
        runStep(pendingSteps.first().first);
}

// A step refused after the audio stop must not leave the engine silent.
void Settings::restartAudio()
{
    succeeded(driver().io_restart_audio(), kRestartFailed);
}

void Settings::initialiseAudio(const char* failureMessage)
{
    settlePause();
    succeeded(driver().io_audio_init(), failureMessage);
}

void Settings::audioSampleRateComboBoxInput(int)
{
    if (!succeeded(driver().io_stop_all_audio(), kStopFailed)) {
        showApplied(audioSampleRateComboBox);
        return;
    }
    settlePause();
    const QString text = audioSampleRateComboBox->currentText();
    if (!kSampleRates.contains(text)) {
        qCDebug(lcSettings) << "未知的音频采样率选项：" << text;
        return;
    }
    const unsigned int rate = text.toUInt();
    sampleRate = rate;
    qCDebug(lcSettings) << "设置音频采样率为：" << rate << "Hz";
    if (!succeeded(driver().io_set_sample_rate(rate), kSetRateFailed)) {
        showApplied(audioSampleRateComboBox);
        initialiseAudio(kRestartFailed);
        return;
    }
    rememberApplied(audioSampleRateComboBox);
    if (!succeeded(driver().io_set_wdm_num(kWdmChannelCount), kWdmFailed)) {
        initialiseAudio(kRestartFailed);
        return;
    }
    settlePause();
    if (!succeeded(driver().io_audio_init(), kRestartFailed))
        return;
    scheduleStep(&Settings::sampleRateChipOffStep);
    store(kSampleRateKey, audioSampleRateComboBox, "音频采样率设置已保存：");
}

void Settings::sampleRateChipOffStep()
{
    if (succeeded(driver().io_set_otg_chip_off(), kChipOffFailed))
        scheduleStep(&Settings::sampleRateChipOnStep);
}

void Settings::sampleRateChipOnStep()
{
    succeeded(driver().io_set_otg_chip_on(), kChipOnFailed);
    qCDebug(lcSettings) << "设置采样频率完成";
}

void Settings::audioBufferSizeComboBoxInput(int)
{
    const QString text = audioBufferSizeComboBox->currentText();
    if (!kBufferSizes.contains(text)) {
        qCDebug(lcSettings) << "未知的音频缓冲区大小选项：" << text;
        return;
    }
    const unsigned int size = text.toUInt();
    qCDebug(lcSettings) << "设置音频缓冲区大小为：" << size << "samples";
    unsigned int current = 0;
    const bool currentRead = driver().io_get_buffer_size(&current);
    qCDebug(lcSettings) << "当前音频缓冲区大小：" << current;
    if (!succeeded(currentRead, kGetBufferFailed)) {
        showApplied(audioBufferSizeComboBox);
        return;
    }
    // The driver runs the choice already: nothing to send, but it is the
    // user's choice from now on and comes back on the next connect.
    if (current == size) {
        store(kBufferSizeKey, audioBufferSizeComboBox, "音频缓冲区大小设置已保存：");
        return;
    }

    const unsigned int latency = usbLatencyCapFor(size);
    qCDebug(lcSettings) << "设置USB延迟大小为：" << latency << "Frame";
    unsigned int usb = 0;
    if (!succeeded(driver().io_get_usb_buffer_size(&usb), kGetLatencyFailed)) {
        showApplied(audioBufferSizeComboBox);
        return;
    }
    qCDebug(lcSettings) << "当前USB延迟大小：" << usb;
    if (latency < usb)
        lowerUsbLatencyTo(latency);

    if (!succeeded(driver().io_stop_all_audio(), kStopFailed)) {
        showApplied(audioBufferSizeComboBox);
        return;
    }
    if (!succeeded(driver().io_set_buffer_size(size), kSetBufferFailed)) {
        showApplied(audioBufferSizeComboBox);
        restartAudio();
        return;
    }
    rememberApplied(audioBufferSizeComboBox);
    if (!succeeded(driver().io_restart_audio(), kRestartFailed))
        return;
    qCDebug(lcSettings) << "音频缓冲区大小设置成功：" << size << "samples";
    store(kBufferSizeKey, audioBufferSizeComboBox, "音频缓冲区大小设置已保存：");
}

void Settings::lowerUsbLatencyTo(unsigned int latency)
{
    const QString text = QString::number(latency);
    // Selecting runs the latency change; a box that already shows the text
    // while the driver runs another latency must still apply it.
    if (usbLatencySizeComboBox->currentText() == text)
        usbLatencySizeComboBoxInput(usbLatencySizeComboBox->currentIndex());
    else
        usbLatencySizeComboBox->setCurrentText(text);
}

void Settings::usbLatencySizeComboBoxInput(int)
{
    const QString text = usbLatencySizeComboBox->currentText();
    const unsigned int latency = kLatencies.contains(text) ? text.toUInt() : 8;
    qCDebug(lcSettings) << "设置USB延迟大小为：" << latency << "Frame";
    // The read's result is not needed: a failed read leaves 0, which differs
    // from every latency, so the change goes on and fails at its first write.
    unsigned int usb = 0;
    driver().io_get_usb_buffer_size(&usb);
    qCDebug(lcSettings) << "当前USB延迟大小：" << usb;
    if (usb != latency) {
        if (!succeeded(driver().io_stop_all_audio(), kStopFailed)) {
            showApplied(usbLatencySizeComboBox);
            return;
        }
        if (!succeeded(driver().io_set_usb_buffer_size(latency), kSetLatencyFailed)) {
            showApplied(usbLatencySizeComboBox);
            restartAudio();
            return;
        }
        rememberApplied(usbLatencySizeComboBox);
        if (!succeeded(driver().io_restart_audio(), kRestartFailed))
            return;
    }
    store(kLatencyKey, usbLatencySizeComboBox, "USB延迟大小设置已保存：");
}

void Settings::usbSlowModeComboBoxInput(int)
{
    if (!succeeded(driver().io_stop_all_audio(), kStopFailed)) {
        showApplied(usbSlowModeComboBox);
        return;
    }
    const QString text = usbSlowModeComboBox->currentText();
    bool switched;
    if (text == "Enabled") {
        switched = driver().io_set_safe_mode_on();
    } else if (text == "Disabled") {
        switched = driver().io_set_safe_mode_off();
    } else {
        qCDebug(lcSettings) << "未知的USB慢速模式选项：" << text;
        return;
    }
    if (!succeeded(switched, kSafeModeFailed)) {
        showApplied(usbSlowModeComboBox);
        restartAudio();
        return;
    }
    rememberApplied(usbSlowModeComboBox);
    if (!succeeded(driver().io_restart_audio(), kRestartFailed))
        return;
    store(kSlowModeKey, usbSlowModeComboBox, "USB慢速模式设置已保存：");
}

void Settings::startSetup()
{
    const QString rateBeforeLoading = audioSampleRateComboBox->currentText();
    loadControlStates();
    qCDebug(lcSettings) << "加载控件状态完成";
    qCDebug(lcSettings) << "当前音频采样率为：" << driver().io_get_samplerate();

    const QString text = audioSampleRateComboBox->currentText();
    if (text == "44100") {
        sampleRate = 44100;
        programRateAtStartup(44100);
    } else if (text == "48000") {
        sampleRate = 48000;
        // Loading programmed the rate only if it changed the selection; a
        // re-plugged interface must still get the rate the dialog shows.
        if (text == rateBeforeLoading)
            programRateAtStartup(48000);
    } else {
        qCDebug(lcSettings) << "未知的音频采样率选项：" << text;
    }
}

void Settings::programRateAtStartup(unsigned int rate)
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
    scheduleStep(&Settings::startupChipOffStep);
}

// Unlike the rate change, start-up goes on after a refused chip-off: the
// audio engine must still be initialised.
void Settings::startupChipOffStep()
{
    succeeded(driver().io_set_otg_chip_off(), kChipOffFailed);
    scheduleStep(&Settings::startupChipOnStep);
}

void Settings::startupChipOnStep()
{
    succeeded(driver().io_set_otg_chip_on(), kChipOnFailed);
    if (succeeded(driver().io_audio_init(), kInitFailed))
        qCDebug(lcSettings) << "设置初始化完成";
}

void Settings::pipThreadCallback()
{
    setWindowFlag(Qt::WindowStaysOnTopHint, true);
    show();
    if (isMinimized())
        showNormal();
    else
        show();
    raise();
    activateWindow();
    qCDebug(lcSettings) << "Received signal from pipe thread to show settings window.";
}

void Settings::setupNoticAsio()
{
    hide();
    std::uint32_t error = 0;
    const platform::PipeHandle pipe = platform::openPipe(kPanelToAsioPipe.toStdWString(), error);
    if (pipe == platform::kInvalidPipeHandle) {
        qCDebug(lcSettings) << "Error: Could not open pipe. Error code:" << error;
        return;
    }
    qCDebug(lcSettings) << "Pipe opened successfully.";
    if (platform::writePipe(pipe, &kResetNotice, 1, error))
        qCDebug(lcSettings) << "ASIO reset signal sent successfully.";
    else
        qCDebug(lcSettings) << "Error: Failed to send ASIO reset signal. Error code:" << error;
    platform::closePipe(pipe);
    qCDebug(lcSettings) << "设置通知ASIO逻辑";
}
