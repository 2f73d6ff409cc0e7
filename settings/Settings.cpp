#include "settings/Settings.h"

#include "platform/NamedPipe.h"
#include "resources/AppIcon.h"
#include "settings/ThreadSettingsPip.h"

#include <QComboBox>
#include <QDebug>
#include <QDir>
#include <QLabel>
#include <QPushButton>
#include <QSettings>
#include <QStandardPaths>
#include <QThread>
#include <QTimer>
#include <QVBoxLayout>

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
        qDebug() << failureMessage;
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
    qDebug() << "Settings dialog created.";
    setWindowTitle("Settings");
    setStyleSheet("QDialog { background-color: #2c313c; color: white; }");

    const QString directory = QStandardPaths::writableLocation(QStandardPaths::AppDataLocation);
    QDir().mkpath(directory);
    settingsStore = new QSettings(directory + "/setting.ini", QSettings::IniFormat, this);

    buildLayout();
    startAsioListener();
}

Settings::~Settings()
{
    delete settingsStore;
    delete ioControl;
    qDebug() << "Settings dialog closed and resources cleaned up.";
}

void Settings::buildLayout()
{
    mainLayout = new QVBoxLayout(this);
    mainLayout->setAlignment(Qt::AlignCenter);
    mainLayout->setContentsMargins(40, 10, 40, 40);

    setWindowIcon(AppIcon::icon());

    auto* title = new QLabel("Settings", this);
    title->setAlignment(Qt::AlignCenter);
    title->setStyleSheet("font-size: 18px; font-weight: bold; color: #00FFFF;");
    mainLayout->addWidget(title);

    // Handlers are connected only once each list is filled, so filling runs none.
    audioBufferSizeComboBox = addChoice("Buffer Size:", kBufferSizes);
    connect(audioBufferSizeComboBox, &QComboBox::currentIndexChanged, this, &Settings::audioBufferSizeComboBoxInput);
    usbLatencySizeComboBox = addChoice("USB Latency Size:", kLatencies);
    usbLatencySizeComboBox->setCurrentIndex(0);
    connect(usbLatencySizeComboBox, &QComboBox::currentIndexChanged, this, &Settings::usbLatencySizeComboBoxInput);
    audioSampleRateComboBox = addChoice("Samplerate:", kSampleRates);
    connect(audioSampleRateComboBox, &QComboBox::currentIndexChanged, this, &Settings::audioSampleRateComboBoxInput);
    usbSlowModeComboBox = addChoice("Safe Mode:", kSlowModes);
    connect(usbSlowModeComboBox, &QComboBox::currentIndexChanged, this, &Settings::usbSlowModeComboBoxInput);

    mainLayout->addSpacing(20);
    auto* okButton = new QPushButton("OK", this);
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
    const bool opened = ioControl->createDevice();
    if (!opened)
        qDebug() << "Settings dialog: failed to open the driver device.";
    return opened;
}

KestrumIoControl& Settings::driver()
{
    return ioControl ? *ioControl : unconnectedChannel;
}

void Settings::loadControlStates()
{
    usbLatencySizeComboBox->setCurrentText(settingsStore->value(kLatencyKey, "8").toString());
    audioBufferSizeComboBox->setCurrentText(settingsStore->value(kBufferSizeKey, "192").toString());
    usbSlowModeComboBox->setCurrentText(settingsStore->value(kSlowModeKey, "Disabled").toString());
    audioSampleRateComboBox->setCurrentText(settingsStore->value(kSampleRateKey, "44100").toString());
    qDebug() << "已从配置文件加载控件状态";
}

void Settings::saveControlStates()
{
    settingsStore->sync();
}

void Settings::store(const QString& key, const QComboBox* box, const char* savedMessage)
{
    settingsStore->setValue(key, box->currentText());
    settingsStore->sync();
    qDebug() << savedMessage << box->currentText();
}

void Settings::scheduleStep(void (Settings::*step)())
{
    auto* timer = new QTimer(this);
    timer->setSingleShot(true);
    connect(timer, &QTimer::timeout, this, [this, timer, step] {
        timer->stop();
        timer->deleteLater();
        (this->*step)();
    });
    timer->start(kPhoneChipStepMs);
}

void Settings::audioSampleRateComboBoxInput(int)
{
    if (!succeeded(driver().io_stop_all_audio(), kStopFailed))
        return;
    settlePause();
    const QString text = audioSampleRateComboBox->currentText();
    if (!kSampleRates.contains(text)) {
        qDebug() << "未知的音频采样率选项：" << text;
        return;
    }
    const unsigned int rate = text.toUInt();
    sampleRate = rate;
    qDebug() << "设置音频采样率为：" << rate << "Hz";
    if (!succeeded(driver().io_set_sample_rate(rate), kSetRateFailed)
        || !succeeded(driver().io_set_wdm_num(kWdmChannelCount), kWdmFailed))
        return;
    settlePause();
    if (!succeeded(driver().io_audio_init(), kRestartFailed))
        return;
    scheduleStep(&Settings::sampleRateChipOffStep);
    store(kSampleRateKey, audioSampleRateComboBox, "音频采样率设置已保存：");
}

void Settings::switchPhoneChipOffThen(void (Settings::*next)())
{
    if (succeeded(driver().io_set_otg_chip_off(), kChipOffFailed))
        scheduleStep(next);
}

void Settings::sampleRateChipOffStep()
{
    switchPhoneChipOffThen(&Settings::sampleRateChipOnStep);
}

void Settings::sampleRateChipOnStep()
{
    succeeded(driver().io_set_otg_chip_on(), kChipOnFailed);
    qDebug() << "设置采样频率完成";
}

void Settings::audioBufferSizeComboBoxInput(int)
{
    const QString text = audioBufferSizeComboBox->currentText();
    if (!kBufferSizes.contains(text)) {
        qDebug() << "未知的音频缓冲区大小选项：" << text;
        return;
    }
    const unsigned int size = text.toUInt();
    qDebug() << "设置音频缓冲区大小为：" << size << "samples";
    unsigned int current = 0;
    const bool currentRead = driver().io_get_buffer_size(&current);
    qDebug() << "当前音频缓冲区大小：" << current;
    if (!succeeded(currentRead, kGetBufferFailed) || current == size)
        return;

    const unsigned int latency = usbLatencyCapFor(size);
    qDebug() << "设置USB延迟大小为：" << latency << "Frame";
    unsigned int usb = 0;
    if (!succeeded(driver().io_get_usb_buffer_size(&usb), kGetLatencyFailed))
        return;
    qDebug() << "当前USB延迟大小：" << usb;
    if (latency < usb)
        lowerUsbLatencyTo(latency);

    if (!succeeded(driver().io_stop_all_audio(), kStopFailed)
        || !succeeded(driver().io_set_buffer_size(size), kSetBufferFailed)
        || !succeeded(driver().io_restart_audio(), kRestartFailed))
        return;
    qDebug() << "音频缓冲区大小设置成功：" << size << "samples";
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
    qDebug() << "设置USB延迟大小为：" << latency << "Frame";
    // The read's result is not needed: a failed read leaves 0, which differs
    // from every latency, so the change goes on and fails at its first write.
    unsigned int usb = 0;
    driver().io_get_usb_buffer_size(&usb);
    qDebug() << "当前USB延迟大小：" << usb;
    if (usb == latency)
        return;
    if (!succeeded(driver().io_stop_all_audio(), kStopFailed)
        || !succeeded(driver().io_set_usb_buffer_size(latency), kSetLatencyFailed)
        || !succeeded(driver().io_restart_audio(), kRestartFailed))
        return;
    store(kLatencyKey, usbLatencySizeComboBox, "USB延迟大小设置已保存：");
}

void Settings::usbSlowModeComboBoxInput(int)
{
    if (!succeeded(driver().io_stop_all_audio(), kStopFailed))
        return;
    const QString text = usbSlowModeComboBox->currentText();
    bool switched;
    if (text == "Enabled") {
        switched = driver().io_set_safe_mode_on();
    } else if (text == "Disabled") {
        switched = driver().io_set_safe_mode_off();
    } else {
        qDebug() << "未知的USB慢速模式选项：" << text;
        return;
    }
    if (!succeeded(switched, kSafeModeFailed) || !succeeded(driver().io_restart_audio(), kRestartFailed))
        return;
    store(kSlowModeKey, usbSlowModeComboBox, "USB慢速模式设置已保存：");
}

void Settings::startSetup()
{
    const QString rateBeforeLoading = audioSampleRateComboBox->currentText();
    loadControlStates();
    qDebug() << "加载控件状态完成";
    qDebug() << "当前音频采样率为：" << driver().io_get_samplerate();

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
        qDebug() << "未知的音频采样率选项：" << text;
    }
}

void Settings::programRateAtStartup(unsigned int rate)
{
    if (!succeeded(driver().io_stop_all_audio(), kStopFailed))
        return;
    qDebug() << "停止音频成功，开始加载控件状态";
    settlePause();
    if (!succeeded(driver().io_set_sample_rate(rate), kSetRateFailed)
        || !succeeded(driver().io_set_wdm_num(kWdmChannelCount), kWdmFailed))
        return;
    scheduleStep(&Settings::startupChipOffStep);
}

void Settings::startupChipOffStep()
{
    switchPhoneChipOffThen(&Settings::startupChipOnStep);
}

void Settings::startupChipOnStep()
{
    succeeded(driver().io_set_otg_chip_on(), kChipOnFailed);
    if (succeeded(driver().io_audio_init(), kInitFailed))
        qDebug() << "设置初始化完成";
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
    qDebug() << "Received signal from pipe thread to show settings window.";
}

void Settings::setupNoticAsio()
{
    hide();
    std::uint32_t error = 0;
    const platform::PipeHandle pipe = platform::openPipe(kPanelToAsioPipe.toStdWString(), error);
    if (pipe == platform::kInvalidPipeHandle) {
        qDebug() << "Error: Could not open pipe. Error code:" << error;
        return;
    }
    qDebug() << "Pipe opened successfully.";
    if (platform::writePipe(pipe, &kResetNotice, 1, error))
        qDebug() << "ASIO reset signal sent successfully.";
    else
        qDebug() << "Error: Failed to send ASIO reset signal. Error code:" << error;
    platform::closePipe(pipe);
    qDebug() << "设置通知ASIO逻辑";
}
