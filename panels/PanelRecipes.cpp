#include "panels/PanelRecipes.h"

#include "controls/Button.h"
#include "controls/Knob.h"

#include <QCoreApplication>
#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QVBoxLayout>

namespace PanelRecipes {

namespace {

const QColor kKnobTextColour = QColor::fromString("#00ff7f");
const QColor kGainArcColour = QColor::fromString("#f1fa8c");
const char* const kButtonGrey = "#8a95aa";
const char* const kButtonFace = "#1b1e23";
constexpr int kButtonWidth = 80;
constexpr int kKeyButtonHeight = 40;
constexpr int kPhoneRowSpacing = 8;

QLabel* centredLabel(QWidget* panel, const QString& text, const QString& styleSheet)
{
    auto* label = new QLabel(text, panel);
    label->setAlignment(Qt::AlignCenter);
    label->setStyleSheet(styleSheet);
    return label;
}

QLabel* columnTitle(QWidget* panel, const QString& text)
{
    return centredLabel(panel, text, "font-weight: bold; font-size: 12px; color: white;");
}

QLabel* caption(QWidget* panel, const QString& text)
{
    return centredLabel(panel, text, "font-size: 12px; color: white;");
}

// Sized once for the longest level text (digits share one width), so a new
// level repaints the readout alone and never lays the panel out again;
// layouts centre it.
QLabel* levelReadout(QWidget* panel)
{
    QLabel* readout = centredLabel(panel, "-888.8 dB", "color: #888888; font-size: 8px;");
    readout->ensurePolished();
    readout->setFixedSize(readout->sizeHint());
    readout->setText("-160 dB");
    return readout;
}

QLabel* phoneCaption(QWidget* panel, const QString& text)
{
    return centredLabel(panel, text, "font-size: 10px; color: white;");
}

Knob* knob(QWidget* panel, int size, int minValue, int maxValue)
{
    auto* knob = new Knob(panel);
    knob->setGeometry(10, 10, size, size);
    knob->setFixedSize(size, size);
    knob->textColor = kKnobTextColour;
    knob->shadowColor = kKnobTextColour;
    knob->minValue = minValue;
    knob->maxValue = maxValue;
    knob->value = minValue;
    return knob;
}

Knob* gainKnob(QWidget* panel, int maxGain, int displayOffset)
{
    Knob* gain = knob(panel, 120, 0, maxGain);
    gain->arcColor = kGainArcColour;
    gain->displayOffset = displayOffset;
    return gain;
}

Knob* volumeKnob(QWidget* panel)
{
    return knob(panel, 120, -80, 6);
}

// The fixed size wins over the 80-pixel geometry it starts with: the phone
// knobs are 70 pixels, small beside their readout.
Knob* phoneKnob(QWidget* panel)
{
    Knob* phone = knob(panel, 80, -80, 6);
    phone->setFixedSize(70, 70);
    phone->arcWidth = 3;
    phone->fontSize = 10;
    return phone;
}

Button* switchButton(QWidget* panel, const QString& text, const QString& colour)
{
    auto* button = new Button(text, panel);
    button->checkedTextColor = colour;
    button->glowColor = colour;
    button->uncheckedTextColor = kButtonGrey;
    button->borderRadius = 3;
    button->checkedBackgroundColor = kButtonFace;
    button->uncheckedBackgroundColor = kButtonFace;
    button->setMinimumWidth(kButtonWidth);
    button->setMaximumWidth(kButtonWidth);
    button->updateStyle();
    return button;
}

Button* keyButton(QWidget* panel, const QString& text)
{
    Button* button = switchButton(panel, text, kKeyColour);
    button->setMinimumHeight(kKeyButtonHeight);
    return button;
}

PhoneRow addPhoneRow(QWidget* panel, QVBoxLayout* column, const QString& captionText, const QString& knobName)
{
    auto* row = new QHBoxLayout;
    row->setAlignment(Qt::AlignCenter);
    row->setSpacing(kPhoneRowSpacing);
    column->addLayout(row);

    PhoneRow phone;
    phone.knob = phoneKnob(panel);
    phone.knob->setAccessibleName(knobName);
    row->addWidget(phone.knob);

    auto* texts = new QVBoxLayout;
    texts->setAlignment(Qt::AlignCenter);
    row->addLayout(texts);
    phone.levelReadout = levelReadout(panel);
    phone.levelReadout->setAccessibleDescription(QCoreApplication::translate("PanelRecipes", "Phone input level"));
    texts->addWidget(phone.levelReadout, 0, Qt::AlignHCenter);
    texts->addWidget(phoneCaption(panel, captionText));
    return phone;
}

} // namespace

QHBoxLayout* installRoot(QWidget* panel)
{
    auto* root = new QHBoxLayout(panel);
    root->setAlignment(Qt::AlignCenter);
    root->setContentsMargins(0, 0, 0, 0);
    return root;
}

void addSeparator(QWidget* panel, QHBoxLayout* root)
{
    auto* separator = new QFrame(panel);
    separator->setFrameShape(QFrame::VLine);
    separator->setFrameShadow(QFrame::Sunken);
    separator->setFixedWidth(1);
    separator->setStyleSheet("background-color: #555555;");
    root->addWidget(separator);
}

InputColumn addInputColumn(QWidget* panel, QHBoxLayout* root, const QString& title,
                           int maxGain, int displayOffset, const InputNames& names)
{
    InputColumn column;
    column.layout = new QVBoxLayout;
    column.layout->setContentsMargins(10, 10, 20, 10);
    root->addLayout(column.layout);

    column.layout->addWidget(columnTitle(panel, title));
    column.gainKnob = gainKnob(panel, maxGain, displayOffset);
    column.gainKnob->setAccessibleName(names.gain);
    column.layout->addWidget(column.gainKnob);
    column.levelReadout = levelReadout(panel);
    column.levelReadout->setAccessibleDescription(names.level);
    column.layout->addWidget(column.levelReadout, 0, Qt::AlignHCenter);
    column.layout->addWidget(caption(panel, QCoreApplication::translate("PanelRecipes", "Gain")));

    column.buttonStack = new QVBoxLayout;
    column.buttonStack->setAlignment(Qt::AlignCenter);
    column.layout->addLayout(column.buttonStack);
    return column;
}

Button* addSwitchButton(QWidget* panel, QVBoxLayout* stack, const QString& text, const QString& colour,
                        const QString& accessibleName)
{
    Button* button = switchButton(panel, text, colour);
    button->setAccessibleName(accessibleName);
    stack->addWidget(button);
    return button;
}

OutputColumn addOutputColumn(QWidget* panel, QHBoxLayout* root, const QString& title,
                             const QString& phoneCaption, const OutputNames& names)
{
    auto* layout = new QVBoxLayout;
    layout->setAlignment(Qt::AlignCenter);
    layout->setContentsMargins(20, 10, 10, 10);
    root->addLayout(layout);

    layout->addWidget(columnTitle(panel, title));
    OutputColumn column;
    auto* knobRow = new QHBoxLayout;
    layout->addLayout(knobRow);
    column.volumeKnob = volumeKnob(panel);
    column.volumeKnob->setAccessibleName(names.volume);
    knobRow->addWidget(column.volumeKnob);
    layout->addWidget(caption(panel, QCoreApplication::translate("PanelRecipes", "Volume")));

    auto* keys = new QHBoxLayout;
    keys->setAlignment(Qt::AlignCenter);
    layout->addLayout(keys);
    column.muteButton = keyButton(panel, QCoreApplication::translate("PanelRecipes", "MUTE"));
    column.muteButton->setAccessibleName(names.mute);
    keys->addWidget(column.muteButton);
    column.dimButton = keyButton(panel, QCoreApplication::translate("PanelRecipes", "DIM"));
    column.dimButton->setAccessibleName(names.dim);
    keys->addWidget(column.dimButton);

    if (!phoneCaption.isEmpty())
        column.phone = addPhoneRow(panel, layout, phoneCaption, names.phoneLevel);
    layout->addStretch();
    return column;
}

} // namespace PanelRecipes
