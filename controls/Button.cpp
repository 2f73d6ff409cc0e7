#include "controls/Button.h"

#include "controls/ButtonAccessible.h"

#include <QAccessible>
#include <QColor>
#include <QGraphicsDropShadowEffect>
#include <QMouseEvent>

namespace {

const char* const kStyleTemplate =
    "QPushButton {   color: %1;   background-color: %2;   border-radius: %3px;}"
    "QPushButton:pressed {   background-color: %4;}";

} // namespace

Button::Button(const QString& text, QWidget* parent)
    : QPushButton(parent)
{
    // First: with an assistive tool active, setText already looks the button
    // up, and the interface it gets then is kept.
    ButtonAccessible::install();
    setText(text);
    setCursor(Qt::PointingHandCursor);

    // Sized from the width at construction: a parentless button is 640 pixels
    // wide here, and the glow keeps that radius after the owner resizes it.
    shadowEffect = new QGraphicsDropShadowEffect(this);
    shadowEffect->setBlurRadius(width() * 0.01);
    shadowEffect->setOffset(0, 0);
    shadowEffect->setColor(QColor::fromString(glowColor));
    setGraphicsEffect(shadowEffect);
    shadowEffect->setEnabled(false);
}

void Button::updateStyle()
{
    const QString& background = status ? checkedBackgroundColor : uncheckedBackgroundColor;
    setStyleSheet(QString::fromLatin1(kStyleTemplate)
                      .arg(status ? checkedTextColor : uncheckedTextColor)
                      .arg(background)
                      .arg(borderRadius)
                      .arg(background));
    shadowEffect->setEnabled(status);
    shadowEffect->setColor(QColor::fromString(glowColor));
}

void Button::setValue(bool on)
{
    status = on;
    shadowEffect->setEnabled(status);
    updateStyle();
    QAccessible::State changed;
    changed.checked = true;
    QAccessibleStateChangeEvent accessibleChange(this, changed);
    QAccessible::updateAccessibility(&accessibleChange);
    emit pressed(status);
}

void Button::addShadow(bool enable, double blurFactor)
{
    if (!enable)
        return;
    shadowEffect->setBlurRadius(width() * blurFactor);
    shadowEffect->setOffset(0, 0);
    shadowEffect->setColor(QColor::fromString(glowColor));
    setGraphicsEffect(shadowEffect);
}

// Any button toggles, whatever the modifiers. QPushButton's handler is not
// called, so the button never goes down and the toolkit's own pressed(),
// released() and clicked() stay silent for mouse use.
void Button::mousePressEvent(QMouseEvent*)
{
    setValue(!status);
}
