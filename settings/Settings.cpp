#include "settings/Settings.h"

#include "resources/AppIcon.h"
#include "settings/AsioLink.h"
#include "settings/SettingsLog.h"

#include <QComboBox>
#include <QLabel>
#include <QPushButton>
#include <QSignalBlocker>
#include <QVBoxLayout>

using S = AudioSettings;

Settings::Settings()
    : settingsEngine(new SettingsEngine(this))
{
    qCDebug(lcSettings) << "Settings dialog created.";
    setWindowTitle(tr("Settings"));
    setStyleSheet("QDialog { background-color: #2c313c; color: white; }");
    buildLayout();
    connect(settingsEngine, &SettingsEngine::selectionChanged, this, &Settings::showSelection);
    asioLink = new AsioLink(this);
    connect(asioLink, &AsioLink::windowRequested, this, &Settings::pipThreadCallback);
}

// The engine goes first, finishing its steps; the ASIO listener stops last.
Settings::~Settings()
{
    delete settingsEngine;
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

    audioBufferSizeComboBox = addChoice(tr("Buffer Size:"), S::BufferSize, &Settings::audioBufferSizeComboBoxInput);
    usbLatencySizeComboBox = addChoice(tr("USB Latency Size:"), S::UsbLatency, &Settings::usbLatencySizeComboBoxInput);
    audioSampleRateComboBox = addChoice(tr("Samplerate:"), S::SampleRate, &Settings::audioSampleRateComboBoxInput);
    usbSlowModeComboBox = addChoice(tr("Safe Mode:"), S::SafeMode, &Settings::usbSlowModeComboBoxInput);

    mainLayout->addSpacing(20);
    auto* okButton = new QPushButton(tr("OK"), this);
    okButton->setStyleSheet("background-color: #008888; color: white; font-size: 14px;");
    mainLayout->addWidget(okButton, 0, Qt::AlignCenter);
    connect(okButton, &QPushButton::clicked, this, &Settings::setupNoticAsio);
    mainLayout->addStretch();
}

// Each entry holds its value; the text is only for the eye.
QComboBox* Settings::addChoice(const QString& label, S::Setting setting, void (Settings::*input)(int))
{
    auto* caption = new QLabel(label, this);
    caption->setAlignment(Qt::AlignCenter);
    caption->setStyleSheet("font-size: 14px; color: #008888;");
    mainLayout->addWidget(caption);
    auto* box = new QComboBox(this);
    for (const unsigned int value : S::choices(setting))
        box->addItem(entryText(setting, value), value);
    box->setCurrentIndex(box->findData(settingsEngine->selection()[setting]));
    mainLayout->addWidget(box);
    // Connected once filled, so filling runs nothing.
    connect(box, &QComboBox::currentIndexChanged, this, input);
    return box;
}

QString Settings::entryText(S::Setting setting, unsigned int value) const
{
    if (setting != S::SafeMode)
        return QString::number(value);
    return value ? tr("Enabled") : tr("Disabled");
}

// The boxes follow the engine without passing anything back to it.
void Settings::showSelection()
{
    const std::pair<QComboBox*, S::Setting> boxes[] = { { usbLatencySizeComboBox, S::UsbLatency },
                                                        { audioBufferSizeComboBox, S::BufferSize },
                                                        { usbSlowModeComboBox, S::SafeMode },
                                                        { audioSampleRateComboBox, S::SampleRate } };
    for (const auto& [box, setting] : boxes) {
        const QSignalBlocker blocker(box);
        box->setCurrentIndex(box->findData(settingsEngine->selection()[setting]));
    }
}

void Settings::choose(QComboBox* box, S::Setting setting, int index)
{
    settingsEngine->choose(setting, box->itemData(index).toUInt());
}

void Settings::audioBufferSizeComboBoxInput(int index)
{
    choose(audioBufferSizeComboBox, S::BufferSize, index);
}

void Settings::usbLatencySizeComboBoxInput(int index)
{
    choose(usbLatencySizeComboBox, S::UsbLatency, index);
}

void Settings::audioSampleRateComboBoxInput(int index)
{
    choose(audioSampleRateComboBox, S::SampleRate, index);
}

void Settings::usbSlowModeComboBoxInput(int index)
{
    choose(usbSlowModeComboBox, S::SafeMode, index);
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
    asioLink->sendResetNotice();
}
