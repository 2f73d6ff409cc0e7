#include "controls/Knob.h"

#include "controls/KnobAccessible.h"

#include <QAccessible>
#include <QFontMetrics>
#include <QGraphicsDropShadowEffect>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPainter>
#include <QRadialGradient>
#include <QWheelEvent>

namespace {

// drawArc angles are in 1/16 degree: the sweep starts at the lower left
// (225°) and runs 270° clockwise, leaving the gap at the bottom.
constexpr int kArcStart = 225 * 16;
constexpr int kArcSpan = -270 * 16;
constexpr double kSweepDegrees = 270.0;

const QColor kLight(255, 255, 255);
const QColor kShadowDark(20, 20, 20);
const QColor kFaceDark(30, 30, 30);

QRadialGradient discGradient(double radius, const QColor& dark)
{
    // Centred on the widget's corner, so both discs are lit from the upper left.
    QRadialGradient gradient(QPointF(0, 0), radius);
    gradient.setColorAt(0, kLight);
    gradient.setColorAt(1, dark);
    return gradient;
}

void drawDisc(QPainter& painter, QPen& pen, const QRadialGradient& gradient, int x, int diameter)
{
    pen.setBrush(gradient);
    pen.setWidth(0);
    painter.setPen(pen);
    painter.setBrush(gradient);
    painter.drawEllipse(QRect(x, x, diameter, diameter));
}

} // namespace

Knob::Knob(QWidget* parent)
    : QWidget(parent)
{
    // First: an active assistive tool looks the knob up as soon as anything
    // about it changes, and keeps the interface it got then.
    KnobAccessible::install();
    editor = new QLineEdit(this);
    editor->hide();
    connect(editor, &QLineEdit::editingFinished, this, &Knob::finishEdit);
}

void Knob::setValue(int newValue)
{
    value = newValue;
    clampAndAnnounce();
}

void Knob::driverSetValue(int newValue)
{
    if (!hovered)
        setValue(newValue);
}

void Knob::addShadow(bool enable, double blurFactor)
{
    if (!enable)
        return;
    auto* effect = new QGraphicsDropShadowEffect(this);
    effect->setBlurRadius(width() * blurFactor);
    effect->setOffset(0, 0);
    effect->setColor(shadowColor);
    setGraphicsEffect(effect);
}

void Knob::editLabel()
{
    editor->setText(QString::number(value + displayOffset));
    const int dx = static_cast<int>(0.025 * textRect.width());
    const int dy = static_cast<int>(0.025 * textRect.height());
    editor->setGeometry(textRect.adjusted(dx, dy, -dx, -dy));
    editor->show();
    editor->setFocus(Qt::OtherFocusReason);
    editor->selectAll();
}

void Knob::finishEdit()
{
    QString typed = editor->text();
    if (typed.endsWith(unit))
        typed.chop(unit.size());
    bool parsed = false;
    const int number = typed.toInt(&parsed, 10);
    editor->hide();
    if (parsed) {
        // Wider than int: the offset must not overflow a number typed at the edge of the range.
        const qint64 shifted = static_cast<qint64>(number) - displayOffset;
        value = static_cast<int>(qBound(qint64(minValue), shifted, qint64(maxValue)));
    }
    clampAndAnnounce();
}

void Knob::mousePressEvent(QMouseEvent* event)
{
    if (event->modifiers() & Qt::ControlModifier)
        setValue(minValue);
}

void Knob::mouseDoubleClickEvent(QMouseEvent* event)
{
    if (showText && textRect.contains(event->position().toPoint())) {
        editLabel();
        return;
    }
    setValue(minValue);
}

// One step per axis per move event, however far the pointer went: the speed
// of a drag follows the rate of move events.
void Knob::mouseMoveEvent(QMouseEvent* event)
{
    if (!(event->buttons() & Qt::LeftButton))
        return;
    const QPoint position = event->position().toPoint();
    if (lastY > position.y())
        stepUp();
    else if (lastY < position.y())
        stepDown();
    if (lastX < position.x())
        stepUp();
    else if (lastX > position.x())
        stepDown();
    lastY = position.y();
    lastX = position.x();
    clampAndAnnounce();
}

// One step per event whatever the delta; a horizontal wheel (no vertical delta) lowers.
void Knob::wheelEvent(QWheelEvent* event)
{
    if (event->angleDelta().y() > 0)
        stepUp();
    else
        stepDown();
    clampAndAnnounce();
}

void Knob::enterEvent(QEnterEvent*)
{
    hovered = true;
}

void Knob::leaveEvent(QEvent*)
{
    hovered = false;
}

void Knob::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setFont(QFont(fontFamily, fontSize));

    const int t = arcWidth;
    const int boxWidth = width() - 2 * t;
    const int boxHeight = height() - 2 * t;
    const QRectF arcBox(t, t, boxWidth, boxHeight);

    QPen pen;
    pen.setWidth(t);
    if (roundCap)
        pen.setCapStyle(Qt::RoundCap);

    if (showTrack) {
        pen.setColor(trackColor);
        painter.setPen(pen);
        painter.drawArc(arcBox, kArcStart, kArcSpan);
    }

    const double sweep = (static_cast<double>(value) - minValue) * kSweepDegrees
        / (static_cast<double>(maxValue) - minValue);
    pen.setColor(arcColor);
    painter.setPen(pen);
    painter.drawArc(arcBox, kArcStart, -static_cast<int>(sweep * 16));

    // The face sits centred in the arc box; the shadow disc under it is
    // shifted by 2 % of the face's diameter so a darker crescent shows at
    // the lower right. Both use the box width for both axes: always circles.
    const double faceDiameter = knobRatio * boxWidth;
    const double faceInset = (1 - knobRatio) * boxWidth * 0.5;
    const int diameter = static_cast<int>(faceDiameter);
    drawDisc(painter, pen, discGradient(0.6 * boxWidth, kShadowDark),
             static_cast<int>(faceInset + 0.02 * faceDiameter) + t, diameter);
    drawDisc(painter, pen, discGradient(0.5 * boxWidth, kFaceDark),
             static_cast<int>(faceInset) + t, diameter);

    if (showText) {
        const QString text = displayText();
        pen.setColor(textColor);
        painter.setPen(pen);
        textRect = QFontMetrics(painter.font()).boundingRect(rect(), Qt::AlignCenter, text);
        painter.drawText(textRect, Qt::AlignCenter, text);
    }
}

void Knob::stepUp()
{
    if (value < maxValue)
        ++value;
}

void Knob::stepDown()
{
    if (value > minValue)
        --value;
}

void Knob::clampAndAnnounce()
{
    value = qMin(value, maxValue);
    value = qMax(value, minValue);
    QAccessibleValueChangeEvent accessibleChange(this, value);
    QAccessible::updateAccessibility(&accessibleChange);
    emit valueChangedSig(value);
    update();
}

// The same shift at every value, so the lowest step reads as the offset.
QString Knob::shownNumber() const
{
    return QString::number(value + displayOffset);
}

QString Knob::displayText() const
{
    return shownNumber() + unit;
}
