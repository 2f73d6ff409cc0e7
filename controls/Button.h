#pragma once

#include <QPushButton>
#include <QString>

class QGraphicsDropShadowEffect;

// The on/off switch of the device panels. It keeps its state in `status`
// rather than in QAbstractButton's checked state, shows it through a style
// sheet built from the colour fields and a glow that is lit only while on,
// and announces every new state through pressed(bool) and to assistive tools
// (ButtonAccessible), which see it as a checkable button.
class Button : public QPushButton
{
    Q_OBJECT

public:
    explicit Button(const QString& text = QString(), QWidget* parent = nullptr);

    // Applies status and the colour fields to the look; owners call it after
    // assigning colours.
    void updateStyle();
    void setValue(bool on);
    void addShadow(bool enable, double blurFactor);

    int borderRadius = 3;
    QString checkedTextColor = QStringLiteral("#000000");
    QString uncheckedTextColor = QStringLiteral("#00ff7f");
    QString glowColor = QStringLiteral("#00ff7f");
    QString checkedBackgroundColor = QStringLiteral("#00ff7f");
    QString uncheckedBackgroundColor = QStringLiteral("#1b1e23");
    bool status = false;
    QGraphicsDropShadowEffect* shadowEffect = nullptr;

signals:
    // Hides QAbstractButton::pressed(), so &Button::pressed names this one.
    void pressed(bool status);

protected:
    void mousePressEvent(QMouseEvent* event) override;
};
