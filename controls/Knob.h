#pragma once

#include <QColor>
#include <QRect>
#include <QString>
#include <QWidget>

class QLineEdit;

// The rotary control of the device panels: an integer value shown as an arc
// over a 270° sweep with the value printed in the middle. Owners configure it
// through the public fields right after construction; every change made by
// the user or through the setters is announced by valueChangedSig, also when
// the value stayed the same, so a restored value reaches the device too, and
// to assistive tools (KnobAccessible), which read and set it as a dial.
class Knob : public QWidget
{
    Q_OBJECT

public:
    explicit Knob(QWidget* parent = nullptr);

    void setValue(int newValue);
    // For values reported by the device: ignored while the pointer is over
    // the knob, so a report never fights the user's hand.
    void driverSetValue(int newValue);
    void addShadow(bool enable, double blurFactor);
    void editLabel();
    // The number printed in the middle, without the unit.
    QString shownNumber() const;

    int value = -80;
    int arcWidth = 7;
    bool roundCap = true;
    int maxValue = 6;
    int minValue = -80;
    QColor arcColor = QColor::fromString("#00ffff");
    bool showText = true;
    QString fontFamily = QStringLiteral("Segoe UI");
    int fontSize = 12;
    QString unit = QStringLiteral("dB");
    QColor textColor = QColor::fromString("#ff79c6");
    bool showTrack = true;
    QColor trackColor = QColor::fromString("#44475a");
    double knobRatio = 0.8;
    QColor shadowColor;
    int lastY = 0;
    int lastX = 0;
    bool hovered = false;
    int displayOffset = 0;
    QLineEdit* editor = nullptr;
    QRect textRect;

signals:
    void valueChangedSig(int value);

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private slots:
    void finishEdit();

private:
    void stepUp();
    void stepDown();
    void clampAndAnnounce();
    QString displayText() const;
};
