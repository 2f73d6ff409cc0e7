// The rotary knob and the toggle button, driven with real mouse, wheel, key
// and hover events, the knob's drawing checked in rendered images, and both
// as assistive tools see them through QAccessible.

#include "controls/Button.h"
#include "controls/Knob.h"

#include <QAccessible>
#include <QFile>
#include <QFontMetrics>
#include <QGraphicsDropShadowEffect>
#include <QLineEdit>
#include <QPointer>
#include <QSet>
#include <QSignalSpy>
#include <QTest>
#include <QtMath>

#include <climits>
#include <cmath>
#include <functional>
#include <memory>

namespace {

const QColor kShadowDark(20, 20, 20);
const QColor kFaceDark(30, 30, 30);

void sendMove(QWidget* widget, const QPointF& position, Qt::MouseButtons buttons)
{
    QMouseEvent event(QEvent::MouseMove, position, widget->mapToGlobal(position), Qt::NoButton,
                      buttons, Qt::NoModifier);
    QCoreApplication::sendEvent(widget, &event);
}

void sendPress(QWidget* widget, Qt::MouseButton button, Qt::KeyboardModifiers modifiers)
{
    const QPointF position(widget->width() / 2.0, widget->height() / 2.0);
    QMouseEvent event(QEvent::MouseButtonPress, position, widget->mapToGlobal(position), button,
                      button, modifiers);
    QCoreApplication::sendEvent(widget, &event);
}

void sendDoubleClick(QWidget* widget, const QPoint& position)
{
    QMouseEvent event(QEvent::MouseButtonDblClick, position, widget->mapToGlobal(position),
                      Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(widget, &event);
}

void sendWheel(QWidget* widget, const QPoint& angleDelta)
{
    const QPointF position(widget->width() / 2.0, widget->height() / 2.0);
    QWheelEvent event(position, widget->mapToGlobal(position), QPoint(), angleDelta, Qt::NoButton,
                      Qt::NoModifier, Qt::NoScrollPhase, false);
    QCoreApplication::sendEvent(widget, &event);
}

void sendEnter(QWidget* widget)
{
    const QPointF position(1, 1);
    QEnterEvent event(position, position, widget->mapToGlobal(position));
    QCoreApplication::sendEvent(widget, &event);
}

void sendLeave(QWidget* widget)
{
    QEvent event(QEvent::Leave);
    QCoreApplication::sendEvent(widget, &event);
}

// Only what the knob paints itself, on a transparent image.
QImage render(Knob& knob)
{
    QImage image(knob.size(), QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    knob.render(&image, QPoint(), QRegion(), QWidget::RenderFlags());
    return image;
}

// The pixel under the middle of the arcs' stroke at the given drawing angle
// (degrees, counter-clockwise from three o'clock).
QPoint arcPixel(const Knob& knob, double degrees)
{
    const double radians = qDegreesToRadians(degrees);
    const double x = knob.width() / 2.0 + (knob.width() / 2.0 - knob.arcWidth) * qCos(radians);
    const double y = knob.height() / 2.0 - (knob.height() / 2.0 - knob.arcWidth) * qSin(radians);
    return QPoint(qFloor(x), qFloor(y));
}

// A knob ready for the editor: range 0..56 shown with an offset of 9, as the
// gain knobs are, painted once so that it knows where its text is.
std::unique_ptr<Knob> gainKnob(int value)
{
    auto knob = std::make_unique<Knob>();
    knob->resize(120, 120);
    knob->minValue = 0;
    knob->maxValue = 56;
    knob->displayOffset = 9;
    knob->value = value;
    render(*knob);
    return knob;
}

// The text's rectangle shrunk by 2.5 % (truncated) of its size on each side.
QRect editorRect(const QRect& text)
{
    const int dx = int(0.025 * text.width());
    const int dy = int(0.025 * text.height());
    return QRect(text.left() + dx, text.top() + dy, text.width() - 2 * dx, text.height() - 2 * dy);
}

QString styleFor(const QString& text, const QString& background, int radius)
{
    return QString("QPushButton {   color: %1;   background-color: %2;   border-radius: %3px;}"
                   "QPushButton:pressed {   background-color: %2;}")
        .arg(text, background, QString::number(radius));
}

} // namespace

class TestControls : public QObject
{
    Q_OBJECT

private slots:
    void setValueClampsAndAlwaysEmits();
    void wheelStepsOncePerEvent_data();
    void wheelStepsOncePerEvent();
    void dragStepsOncePerAxis_data();
    void dragStepsOncePerAxis();
    void dragNeedsTheLeftButtonAndKeepsTheLastPosition();
    void ctrlClickResetsWithAnyButton_data();
    void ctrlClickResetsWithAnyButton();
    void doubleClickOpensTheEditorOnlyOnTheText();
    void editorTakesTypedText_data();
    void editorTakesTypedText();
    void editorTakesTextOverOnFocusLoss();
    void hoverBlocksDeviceValues();
    void addShadowInstallsAFreshGlow();
    void knobReadsAsADial_data();
    void knobReadsAsADial();
    void knobTakesToolValuesAsUserInput_data();
    void knobTakesToolValuesAsUserInput();

    void valueArcAndTrackColours_data();
    void valueArcAndTrackColours();
    void bottomGapStaysEmpty();
    void capsFollowRoundCap();
    void discsSitAtTheirRectangles_data();
    void discsSitAtTheirRectangles();
    void textRectIsTheCentredText_data();
    void textRectIsTheCentredText();
    void textReadsZeroAtZeroWhateverTheOffset();
    void hiddenTextPaintsNothingAndKeepsTextRect();

    void freshButtonIsOffWithoutStyle();
    void anyMouseButtonTogglesOnce_data();
    void anyMouseButtonTogglesOnce();
    void keyboardDoesNotToggle();
    void setValueEmitsEvenWithoutChange();
    void styleSheetFollowsStatusAndColours();
    void litButtonGlows();
    void buttonReadsAsCheckable_data();
    void buttonReadsAsCheckable();
    void buttonTogglesFirstAndOnlyWhileEnabled();

    void galleryImageIsWritten();
};

void TestControls::setValueClampsAndAlwaysEmits()
{
    Knob knob;
    knob.minValue = 0;
    knob.maxValue = 42;
    QSignalSpy spy(&knob, &Knob::valueChangedSig);

    knob.setValue(1000);
    QCOMPARE(knob.value, 42);
    knob.setValue(42);
    knob.setValue(-7);
    QCOMPARE(knob.value, 0);
    knob.setValue(INT_MIN);
    knob.setValue(17);
    QCOMPARE(knob.value, 17);

    const QList<QList<QVariant>> expected = { { 42 }, { 42 }, { 0 }, { 0 }, { 17 } };
    QCOMPARE(QList<QList<QVariant>>(spy), expected);
}

void TestControls::wheelStepsOncePerEvent_data()
{
    QTest::addColumn<int>("start");
    QTest::addColumn<QPoint>("angleDelta");
    QTest::addColumn<int>("expected");

    QTest::newRow("one notch up") << 0 << QPoint(0, 120) << 1;
    QTest::newRow("a big delta is still one step") << 0 << QPoint(0, 1200) << 1;
    QTest::newRow("a tiny delta is still one step") << 0 << QPoint(0, 1) << 1;
    QTest::newRow("one notch down") << 0 << QPoint(0, -120) << -1;
    QTest::newRow("horizontal wheel lowers") << 0 << QPoint(120, 0) << -1;
    QTest::newRow("up at the maximum") << 6 << QPoint(0, 120) << 6;
    QTest::newRow("down at the minimum") << -80 << QPoint(0, -120) << -80;
}

void TestControls::wheelStepsOncePerEvent()
{
    QFETCH(int, start);
    QFETCH(QPoint, angleDelta);
    QFETCH(int, expected);

    Knob knob;
    knob.value = start;
    QSignalSpy spy(&knob, &Knob::valueChangedSig);
    sendWheel(&knob, angleDelta);

    QCOMPARE(knob.value, expected);
    QCOMPARE(spy.count(), 1);
    QCOMPARE(spy.at(0).at(0).toInt(), expected);
}

void TestControls::dragStepsOncePerAxis_data()
{
    QTest::addColumn<int>("start");
    QTest::addColumn<QPointF>("from");
    QTest::addColumn<QPointF>("to");
    QTest::addColumn<int>("expected");

    // Range -10..10 throughout.
    QTest::newRow("up and right") << 0 << QPointF(50, 50) << QPointF(53, 45) << 2;
    QTest::newRow("up and left cancel out") << 0 << QPointF(50, 50) << QPointF(47, 45) << 0;
    QTest::newRow("far up is one step") << 0 << QPointF(50, 50) << QPointF(50, -300) << 1;
    QTest::newRow("down") << 0 << QPointF(50, 50) << QPointF(50, 51) << -1;
    QTest::newRow("left") << 0 << QPointF(50, 50) << QPointF(20, 50) << -1;
    QTest::newRow("down and left") << 0 << QPointF(50, 50) << QPointF(49, 51) << -2;
    QTest::newRow("no movement") << 3 << QPointF(50, 50) << QPointF(50, 50) << 3;
    QTest::newRow("up and right one below the top") << 9 << QPointF(50, 50) << QPointF(60, 40) << 10;
    // Each axis checks the bound on its own: at the top the upward step is
    // lost and the leftward one still counts.
    QTest::newRow("up and left at the top") << 10 << QPointF(50, 50) << QPointF(40, 40) << 9;
    QTest::newRow("down and right at the bottom") << -10 << QPointF(50, 50) << QPointF(60, 60) << -9;
    // Positions are rounded half away from zero before comparing.
    QTest::newRow("less than half a pixel") << 0 << QPointF(50, 50) << QPointF(50.4, 49.6) << 0;
    QTest::newRow("half a pixel right") << 0 << QPointF(50, 50) << QPointF(50.5, 50) << 1;
    QTest::newRow("half a pixel up from zero") << 0 << QPointF(0, 0) << QPointF(0, -0.5) << 1;
}

void TestControls::dragStepsOncePerAxis()
{
    QFETCH(int, start);
    QFETCH(QPointF, from);
    QFETCH(QPointF, to);
    QFETCH(int, expected);

    Knob knob;
    knob.minValue = -10;
    knob.maxValue = 10;
    sendMove(&knob, from, Qt::LeftButton);
    knob.value = start;

    QSignalSpy spy(&knob, &Knob::valueChangedSig);
    sendMove(&knob, to, Qt::LeftButton);
    QCOMPARE(knob.value, expected);
    QCOMPARE(spy.count(), 1);
    QCOMPARE(spy.at(0).at(0).toInt(), expected);
}

void TestControls::dragNeedsTheLeftButtonAndKeepsTheLastPosition()
{
    Knob knob;
    knob.minValue = -10;
    knob.maxValue = 10;
    knob.value = 0;
    QSignalSpy spy(&knob, &Knob::valueChangedSig);

    // Before any drag the last position is the corner: straight right raises.
    sendMove(&knob, QPointF(30, 0), Qt::LeftButton);
    QCOMPARE(knob.value, 1);

    // Moves without the left button change nothing and are not remembered.
    sendMove(&knob, QPointF(30, -40), Qt::RightButton);
    sendMove(&knob, QPointF(80, 90), Qt::MiddleButton);
    sendMove(&knob, QPointF(80, 90), Qt::NoButton);
    QCOMPARE(knob.value, 1);
    QCOMPARE(spy.count(), 1);

    // Left and right together is still a drag, compared with (30, 0).
    sendMove(&knob, QPointF(30, 5), Qt::LeftButton | Qt::RightButton);
    QCOMPARE(knob.value, 0);

    // A new drag starts where the last one ended, not where it is pressed.
    QTest::mouseClick(&knob, Qt::LeftButton, Qt::NoModifier, QPoint(10, 5));
    sendMove(&knob, QPointF(10, 5), Qt::LeftButton);
    QCOMPARE(knob.value, -1);
    QCOMPARE(spy.count(), 3);
}

void TestControls::ctrlClickResetsWithAnyButton_data()
{
    QTest::addColumn<Qt::MouseButton>("button");
    QTest::addColumn<Qt::KeyboardModifiers>("modifiers");
    QTest::addColumn<bool>("resets");

    QTest::newRow("ctrl+left") << Qt::LeftButton << Qt::KeyboardModifiers(Qt::ControlModifier) << true;
    QTest::newRow("ctrl+right") << Qt::RightButton << Qt::KeyboardModifiers(Qt::ControlModifier) << true;
    QTest::newRow("ctrl+middle") << Qt::MiddleButton << Qt::KeyboardModifiers(Qt::ControlModifier) << true;
    QTest::newRow("ctrl+shift+left") << Qt::LeftButton << (Qt::ControlModifier | Qt::ShiftModifier) << true;
    QTest::newRow("plain left") << Qt::LeftButton << Qt::KeyboardModifiers() << false;
    QTest::newRow("shift+left") << Qt::LeftButton << Qt::KeyboardModifiers(Qt::ShiftModifier) << false;
    QTest::newRow("alt+right") << Qt::RightButton << Qt::KeyboardModifiers(Qt::AltModifier) << false;
}

void TestControls::ctrlClickResetsWithAnyButton()
{
    QFETCH(Qt::MouseButton, button);
    QFETCH(Qt::KeyboardModifiers, modifiers);
    QFETCH(bool, resets);

    Knob knob;
    knob.value = -12;
    QSignalSpy spy(&knob, &Knob::valueChangedSig);
    sendPress(&knob, button, modifiers);

    QCOMPARE(knob.value, resets ? -80 : -12);
    QCOMPARE(spy.count(), resets ? 1 : 0);
}

void TestControls::doubleClickOpensTheEditorOnlyOnTheText()
{
    // Before the first paint there is no text to hit: any double-click resets.
    auto knob = std::make_unique<Knob>();
    knob->resize(120, 120);
    knob->value = 0;
    QSignalSpy unpainted(knob.get(), &Knob::valueChangedSig);
    sendDoubleClick(knob.get(), QPoint(60, 60));
    QCOMPARE(knob->value, -80);
    QCOMPARE(unpainted.count(), 1);
    QVERIFY(knob->editor->isHidden());

    // On the text, its border included: the editor opens with the shown
    // number (value plus offset, no unit) inside the text's rectangle.
    knob = gainKnob(0);
    QSignalSpy spy(knob.get(), &Knob::valueChangedSig);
    sendDoubleClick(knob.get(), knob->textRect.bottomRight());
    QVERIFY(!knob->editor->isHidden());
    QCOMPARE(knob->editor->text(), QString("9"));
    QCOMPARE(knob->editor->selectedText(), QString("9"));
    QCOMPARE(knob->editor->geometry(), editorRect(knob->textRect));
    QCOMPARE(knob->value, 0);
    QCOMPARE(spy.count(), 0);

    // Confirmed unchanged, "9" is value 0 again.
    QTest::keyClick(knob->editor, Qt::Key_Return);
    QVERIFY(knob->editor->isHidden());
    QCOMPARE(knob->value, 0);
    QCOMPARE(spy.count(), 1);

    // A text of 40 pixels or more narrows the editor on the left and right too.
    knob = gainKnob(20);
    knob->fontSize = 24;
    render(*knob);
    QVERIFY(knob->textRect.width() >= 40);
    sendDoubleClick(knob.get(), knob->textRect.topLeft());
    QVERIFY(!knob->editor->isHidden());
    QCOMPARE(knob->editor->text(), QString("29"));
    const QRect narrowed = knob->editor->geometry();
    QCOMPARE(narrowed, editorRect(knob->textRect));
    QVERIFY(narrowed.left() > knob->textRect.left());

    // Just outside the text: reset.
    knob = gainKnob(20);
    sendDoubleClick(knob.get(), knob->textRect.bottomRight() + QPoint(1, 1));
    QVERIFY(knob->editor->isHidden());
    QCOMPARE(knob->value, 0);

    // With the text hidden the same spot resets too.
    knob = gainKnob(20);
    knob->showText = false;
    sendDoubleClick(knob.get(), knob->textRect.center());
    QVERIFY(knob->editor->isHidden());
    QCOMPARE(knob->value, 0);
}

void TestControls::editorTakesTypedText_data()
{
    QTest::addColumn<int>("offset");
    QTest::addColumn<QString>("typed");
    QTest::addColumn<int>("expected");

    // Range 0..56, value 30 before editing.
    QTest::newRow("number") << 9 << "20" << 11;
    QTest::newRow("number with unit") << 9 << "20dB" << 11;
    QTest::newRow("unit in the wrong case") << 9 << "20db" << 30;
    QTest::newRow("above the range") << 9 << "70" << 56;
    QTest::newRow("below the range") << 9 << "5" << 0;
    QTest::newRow("negative") << 9 << "-3dB" << 0;
    QTest::newRow("not a number") << 9 << "abc" << 30;
    QTest::newRow("only the unit") << 9 << "dB" << 30;
    QTest::newRow("empty") << 9 << "" << 30;
    QTest::newRow("too big for an int") << 9 << "99999999999" << 30;
    QTest::newRow("smallest int minus the offset") << 9 << "-2147483648" << 0;
    QTest::newRow("largest int minus a negative offset") << -9 << "2147483647" << 56;
    QTest::newRow("no offset") << 0 << "42dB" << 42;
}

void TestControls::editorTakesTypedText()
{
    QFETCH(int, offset);
    QFETCH(QString, typed);
    QFETCH(int, expected);

    auto knob = gainKnob(30);
    knob->displayOffset = offset;
    render(*knob);
    QSignalSpy spy(knob.get(), &Knob::valueChangedSig);

    sendDoubleClick(knob.get(), knob->textRect.center());
    QVERIFY(!knob->editor->isHidden());
    // The whole shown number is selected, so typing replaces it.
    if (typed.isEmpty())
        QTest::keyClick(knob->editor, Qt::Key_Backspace);
    QTest::keyClicks(knob->editor, typed);
    QCOMPARE(knob->editor->text(), typed);
    QTest::keyClick(knob->editor, Qt::Key_Return);

    QVERIFY(knob->editor->isHidden());
    QCOMPARE(knob->value, expected);
    QCOMPARE(spy.count(), 1);
    QCOMPARE(spy.at(0).at(0).toInt(), expected);
}

void TestControls::editorTakesTextOverOnFocusLoss()
{
    QWidget window;
    auto* knob = new Knob(&window);
    knob->setGeometry(0, 0, 120, 120);
    knob->minValue = 0;
    knob->maxValue = 56;
    knob->displayOffset = 9;
    knob->value = 30;
    auto* elsewhere = new QLineEdit(&window);
    elsewhere->setGeometry(0, 130, 120, 30);
    window.show();
    window.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&window));
    QTRY_VERIFY(!knob->textRect.isEmpty());

    QSignalSpy spy(knob, &Knob::valueChangedSig);
    sendDoubleClick(knob, knob->textRect.center());
    QTRY_VERIFY(knob->editor->hasFocus());
    QTest::keyClicks(knob->editor, "20dB");
    elsewhere->setFocus();

    QTRY_VERIFY(!knob->editor->isVisible());
    QCOMPARE(knob->value, 11);
    QCOMPARE(spy.count(), 1);
}

void TestControls::hoverBlocksDeviceValues()
{
    Knob knob;
    knob.value = -20;
    QSignalSpy spy(&knob, &Knob::valueChangedSig);

    sendEnter(&knob);
    knob.driverSetValue(-3);
    QCOMPARE(knob.value, -20);
    QCOMPARE(spy.count(), 0);

    // The user's own input still works while hovering.
    sendWheel(&knob, QPoint(0, 120));
    QCOMPARE(knob.value, -19);

    sendLeave(&knob);
    knob.driverSetValue(-3);
    QCOMPARE(knob.value, -3);
    knob.driverSetValue(100);
    QCOMPARE(knob.value, 6);
    QCOMPARE(spy.count(), 3);
    QCOMPARE(spy.at(2).at(0).toInt(), 6);
}

void TestControls::addShadowInstallsAFreshGlow()
{
    Knob knob;
    knob.resize(80, 80);
    knob.shadowColor = QColor::fromString("#ff00ff");

    knob.addShadow(false, 0.5);
    QVERIFY(!knob.graphicsEffect());

    knob.addShadow(true, 0.25);
    QPointer<QGraphicsEffect> first = knob.graphicsEffect();
    auto* glow = qobject_cast<QGraphicsDropShadowEffect*>(first.data());
    QVERIFY(glow);
    QCOMPARE(glow->parent(), &knob);
    QCOMPARE(glow->blurRadius(), 20.0);
    QCOMPARE(glow->offset(), QPointF(0, 0));
    QCOMPARE(glow->color(), QColor::fromString("#ff00ff"));

    knob.addShadow(true, 0.5);
    QVERIFY(first.isNull());
    glow = qobject_cast<QGraphicsDropShadowEffect*>(knob.graphicsEffect());
    QVERIFY(glow);
    QCOMPARE(glow->blurRadius(), 40.0);
}

void TestControls::knobReadsAsADial_data()
{
    QTest::addColumn<int>("minValue");
    QTest::addColumn<int>("maxValue");
    QTest::addColumn<int>("offset");
    QTest::addColumn<QString>("unit");
    QTest::addColumn<int>("start");
    QTest::addColumn<QString>("input"); // "set" or "wheel"
    QTest::addColumn<int>("amount");    // the value set, or the wheel's delta
    QTest::addColumn<int>("expected");
    QTest::addColumn<QString>("text");

    QTest::newRow("gain set") << 0 << 56 << 9 << "dB" << 0 << "set" << 5 << 5 << "14 dB";
    QTest::newRow("gain at zero reads as printed") << 0 << 56 << 9 << "dB" << 30 << "set" << 0 << 0 << "0 dB";
    QTest::newRow("gain wheel up from zero") << 0 << 56 << 9 << "dB" << 0 << "wheel" << 120 << 1 << "10 dB";
    QTest::newRow("gain wheel down at the minimum") << 0 << 56 << 9 << "dB" << 0 << "wheel" << -120 << 0 << "0 dB";
    QTest::newRow("volume wheel up") << -80 << 6 << 0 << "dB" << -12 << "wheel" << 120 << -11 << "-11 dB";
    QTest::newRow("volume set above the range") << -80 << 6 << 0 << "dB" << -12 << "set" << 100 << 6 << "6 dB";
    QTest::newRow("no unit") << -80 << 6 << 0 << "" << 0 << "set" << -12 << -12 << "-12";
}

void TestControls::knobReadsAsADial()
{
    QFETCH(int, minValue);
    QFETCH(int, maxValue);
    QFETCH(int, offset);
    QFETCH(QString, unit);
    QFETCH(int, start);
    QFETCH(QString, input);
    QFETCH(int, amount);
    QFETCH(int, expected);
    QFETCH(QString, text);

    Knob knob;
    knob.minValue = minValue;
    knob.maxValue = maxValue;
    knob.displayOffset = offset;
    knob.unit = unit;
    knob.value = start;
    if (input == "set")
        knob.setValue(amount);
    else
        sendWheel(&knob, QPoint(0, amount));

    QAccessibleInterface* accessible = QAccessible::queryAccessibleInterface(&knob);
    QVERIFY(accessible);
    QCOMPARE(accessible->role(), QAccessible::Dial);
    QCOMPARE(accessible->text(QAccessible::Value), text);
    QAccessibleValueInterface* dial = accessible->valueInterface();
    QVERIFY(dial);
    QCOMPARE(dial->currentValue().toInt(), expected);
    QCOMPARE(dial->minimumValue().toInt(), minValue);
    QCOMPARE(dial->maximumValue().toInt(), maxValue);
    QCOMPARE(dial->minimumStepSize().toInt(), 1);
}

void TestControls::knobTakesToolValuesAsUserInput_data()
{
    QTest::addColumn<QVariant>("requested");
    QTest::addColumn<bool>("taken");
    QTest::addColumn<int>("expected");

    // Range -80..6, value -20 before.
    QTest::newRow("a step") << QVariant(-6) << true << -6;
    QTest::newRow("the current value is announced again") << QVariant(-20) << true << -20;
    QTest::newRow("a fraction rounds to the nearest step") << QVariant(-6.7) << true << -7;
    QTest::newRow("far above the range") << QVariant(1e12) << true << 6;
    QTest::newRow("far below the range") << QVariant(-1e12) << true << -80;
    QTest::newRow("a number as text") << QVariant(QString("3")) << true << 3;
    QTest::newRow("text") << QVariant(QString("loud")) << false << -20;
    QTest::newRow("nothing") << QVariant() << false << -20;
    QTest::newRow("not a number") << QVariant(qQNaN()) << false << -20;
    QTest::newRow("infinity") << QVariant(qInf()) << false << -20;
}

void TestControls::knobTakesToolValuesAsUserInput()
{
    QFETCH(QVariant, requested);
    QFETCH(bool, taken);
    QFETCH(int, expected);

    Knob knob;
    knob.value = -20;
    QSignalSpy spy(&knob, &Knob::valueChangedSig);
    QAccessibleValueInterface* dial = QAccessible::queryAccessibleInterface(&knob)->valueInterface();
    QVERIFY(dial);
    dial->setCurrentValue(requested);

    QCOMPARE(knob.value, expected);
    QCOMPARE(dial->currentValue().toInt(), expected);
    QCOMPARE(spy.count(), taken ? 1 : 0);
    if (taken)
        QCOMPARE(spy.at(0).at(0).toInt(), expected);
}

void TestControls::valueArcAndTrackColours_data()
{
    QTest::addColumn<int>("minValue");
    QTest::addColumn<int>("maxValue");
    QTest::addColumn<int>("value");
    QTest::addColumn<bool>("showTrack");
    QTest::addColumn<QList<double>>("arcAngles");
    QTest::addColumn<QList<double>>("trackAngles");

    // The sweep starts at 225° and runs clockwise; the pen's round ends
    // reach about 4° beyond an arc's end in a 120-pixel knob.
    const QList<double> wholeTrack = { 225, 215, 135, 90, 0, -35, -45 };
    QTest::newRow("minimum") << -80 << 6 << -80 << true << QList<double>() << wholeTrack;
    QTest::newRow("maximum") << -80 << 6 << 6 << true << wholeTrack << QList<double>();
    QTest::newRow("a third") << 0 << 90 << 30 << true << QList<double> { 225, 180, 142 }
                             << QList<double> { 128, 90, 0, -45 };
    QTest::newRow("half") << 0 << 270 << 135 << true << QList<double> { 225, 135, 97 }
                          << QList<double> { 83, 0, -45 };
    QTest::newRow("one step above the minimum") << -80 << 6 << -79 << true
                                                << QList<double> { 225, 223 }
                                                << QList<double> { 215, 90 };
}

void TestControls::valueArcAndTrackColours()
{
    QFETCH(int, minValue);
    QFETCH(int, maxValue);
    QFETCH(int, value);
    QFETCH(QList<double>, arcAngles);
    QFETCH(QList<double>, trackAngles);

    for (bool showTrack : { true, false }) {
        Knob knob;
        knob.resize(120, 120);
        knob.minValue = minValue;
        knob.maxValue = maxValue;
        knob.value = value;
        knob.showTrack = showTrack;
        const QImage image = render(knob);

        for (double angle : arcAngles) {
            const QColor colour = image.pixelColor(arcPixel(knob, angle));
            QVERIFY2(colour == knob.arcColor, qPrintable(QString("value arc at %1°: %2").arg(angle).arg(colour.name(QColor::HexArgb))));
        }
        // Where the value arc does not reach: the track, or nothing at all.
        const QColor rest = showTrack ? knob.trackColor : QColor(Qt::transparent);
        for (double angle : trackAngles) {
            const QColor colour = image.pixelColor(arcPixel(knob, angle));
            QVERIFY2(colour == rest, qPrintable(QString("track at %1° (showTrack %2): %3").arg(angle).arg(showTrack).arg(colour.name(QColor::HexArgb))));
        }
    }
}

void TestControls::bottomGapStaysEmpty()
{
    // With the value arc over the whole track, nothing but the discs may be
    // painted in the 90° gap at the bottom, whatever the caps.
    for (bool roundCap : { true, false }) {
        Knob knob;
        knob.resize(120, 120);
        knob.value = knob.maxValue;
        knob.roundCap = roundCap;
        const QImage image = render(knob);
        for (double angle = 236; angle <= 304; angle += 1) {
            for (double radius = 46; radius <= 59; radius += 1) {
                const double radians = qDegreesToRadians(angle);
                const QPoint pixel(qFloor(60 + radius * qCos(radians)), qFloor(60 - radius * qSin(radians)));
                QVERIFY2(qAlpha(image.pixel(pixel)) == 0,
                         qPrintable(QString("painted at %1°, radius %2").arg(angle).arg(radius)));
            }
        }
    }
}

void TestControls::capsFollowRoundCap()
{
    // A wide arc ending at three o'clock, where it runs straight down: a
    // round end stops short of the corners that a square end fills.
    for (bool roundCap : { true, false }) {
        Knob knob;
        knob.resize(120, 120);
        knob.arcWidth = 20; // stroke from radius 30 to 50 around (60, 60); the end is at (100, 60)
        knob.minValue = 0;
        knob.maxValue = 270;
        knob.value = 225;
        knob.showTrack = false;
        knob.knobRatio = 0.5; // keeps the discs clear of the arc's inner edge
        knob.roundCap = roundCap;
        const QImage image = render(knob);

        QCOMPARE(image.pixelColor(100, 66), knob.arcColor); // beyond the end, on the centre line
        QCOMPARE(image.pixelColor(108, 68), roundCap ? QColor(Qt::transparent) : knob.arcColor);
        QCOMPARE(image.pixelColor(91, 68), roundCap ? QColor(Qt::transparent) : knob.arcColor);
        QCOMPARE(qAlpha(image.pixel(100, 72)), 0); // further than half the pen width
    }
}

void TestControls::discsSitAtTheirRectangles_data()
{
    QTest::addColumn<int>("size");
    QTest::addColumn<int>("arcWidth");
    QTest::addColumn<QRect>("face");
    QTest::addColumn<QRect>("shadow");

    QTest::newRow("120 default") << 120 << 7 << QRect(17, 17, 84, 84) << QRect(19, 19, 84, 84);
    QTest::newRow("70 thin") << 70 << 3 << QRect(9, 9, 51, 51) << QRect(10, 10, 51, 51);
}

void TestControls::discsSitAtTheirRectangles()
{
    QFETCH(int, size);
    QFETCH(int, arcWidth);
    QFETCH(QRect, face);
    QFETCH(QRect, shadow);

    Knob knob;
    knob.resize(size, size);
    knob.arcWidth = arcWidth;
    knob.showText = false;
    const QImage image = render(knob);
    const auto alpha = [&](int x, int y) { return qAlpha(image.pixel(x, y)); };
    const auto isEdge = [](int a) { return a > 40 && a < 215; };
    // The level of a solid neutral grey pixel, or -1 for anything else.
    const auto grey = [&](int x, int y) {
        const QColor colour = image.pixelColor(x, y);
        const bool neutral = colour.red() == colour.green() && colour.green() == colour.blue();
        return colour.alpha() >= 240 && neutral ? colour.red() : -1;
    };

    // The face's top and left edges (the shadow disc lies lower and further
    // right): clear two pixels out, the antialiased outline, solid inside.
    const int faceMiddle = face.left() + face.width() / 2;
    QCOMPARE(alpha(faceMiddle, face.top() - 2), 0);
    QVERIFY2(isEdge(alpha(faceMiddle, face.top() - 1)), qPrintable(QString::number(alpha(faceMiddle, face.top() - 1))));
    QVERIFY(alpha(faceMiddle, face.top()) >= 240);
    QCOMPARE(alpha(face.left() - 2, faceMiddle), 0);
    QVERIFY(isEdge(alpha(face.left() - 1, faceMiddle)));
    QVERIFY(alpha(face.left(), faceMiddle) >= 240);

    // The shadow disc's bottom and right edges, which the face leaves
    // uncovered: a crescent darker than the face's own dark end.
    const int shadowMiddle = shadow.left() + shadow.width() / 2;
    const int shadowEnd = shadow.top() + shadow.height();
    QVERIFY(grey(shadowMiddle, shadowEnd - 1) >= kShadowDark.red());
    QVERIFY(grey(shadowMiddle, shadowEnd - 1) < kFaceDark.red());
    QVERIFY(isEdge(alpha(shadowMiddle, shadowEnd)));
    QCOMPARE(alpha(shadowMiddle, shadowEnd + 1), 0);
    QVERIFY(grey(shadowEnd - 1, shadowMiddle) >= kShadowDark.red());
    QVERIFY(grey(shadowEnd - 1, shadowMiddle) < kFaceDark.red());
    QVERIFY(isEdge(alpha(shadowEnd, shadowMiddle)));
    QCOMPARE(alpha(shadowEnd + 1, shadowMiddle), 0);

    // The face is lit from the upper left: four pixels inside its rim it is
    // light there and in its dark grey at the lower right.
    const double faceCentre = face.left() + face.width() / 2.0;
    const double inward = (face.width() / 2.0 - 4) / std::sqrt(2.0);
    const int upperLeft = qFloor(faceCentre - inward);
    const int lowerRight = qFloor(faceCentre + inward);
    QCOMPARE(grey(lowerRight, lowerRight), kFaceDark.red());
    QVERIFY(grey(upperLeft, upperLeft) > kFaceDark.red() + 20);
}

void TestControls::textRectIsTheCentredText_data()
{
    QTest::addColumn<int>("offset");
    QTest::addColumn<QString>("unit");
    QTest::addColumn<int>("value");
    QTest::addColumn<QString>("expected");

    QTest::newRow("zero with an offset") << 9 << "dB" << 0 << "0dB";
    QTest::newRow("five with an offset") << 9 << "dB" << 5 << "14dB";
    QTest::newRow("one with an offset") << 9 << "dB" << 1 << "10dB";
    QTest::newRow("negative, no unit") << 0 << "" << -12 << "-12";
    QTest::newRow("below zero with an offset") << 9 << "dB" << -80 << "-71dB";
}

void TestControls::textRectIsTheCentredText()
{
    QFETCH(int, offset);
    QFETCH(QString, unit);
    QFETCH(int, value);
    QFETCH(QString, expected);

    Knob knob;
    knob.resize(120, 120);
    knob.displayOffset = offset;
    knob.unit = unit;
    knob.value = value;
    render(knob);

    const QFontMetrics metrics(QFont(knob.fontFamily, knob.fontSize));
    QCOMPARE(knob.textRect, metrics.boundingRect(knob.rect(), Qt::AlignCenter, expected));
}

void TestControls::textReadsZeroAtZeroWhateverTheOffset()
{
    // "0dB" and "9dB" occupy the same rectangle, so compare what is drawn
    // there: value 0 with offset 9 looks exactly like value 0 without one,
    // and unlike a knob that reads 9.
    const auto textImage = [](int value, int offset) {
        Knob knob;
        knob.resize(120, 120);
        knob.minValue = -80;
        knob.value = value;
        knob.displayOffset = offset;
        knob.showTrack = false;
        knob.arcColor = Qt::transparent;
        return render(knob).copy(knob.textRect);
    };
    const QImage offsetZero = textImage(0, 9);
    QCOMPARE(offsetZero, textImage(0, 0));
    QVERIFY(offsetZero != textImage(1, 8));
}

void TestControls::hiddenTextPaintsNothingAndKeepsTextRect()
{
    Knob knob;
    knob.resize(120, 120);
    knob.displayOffset = 9;
    knob.value = 5;
    const QImage withText = render(knob);
    const QRect shown = knob.textRect;

    knob.showText = false;
    const QImage withoutText = render(knob);
    QCOMPARE(knob.textRect, shown);
    int differing = 0;
    for (int y = 0; y < withText.height(); ++y) {
        for (int x = 0; x < withText.width(); ++x) {
            if (withText.pixel(x, y) != withoutText.pixel(x, y)) {
                QVERIFY2(shown.contains(x, y), qPrintable(QString("text outside its rectangle at %1,%2").arg(x).arg(y)));
                ++differing;
            }
        }
    }
    QVERIFY(differing > 0);

    knob.value = -80;
    render(knob);
    QCOMPARE(knob.textRect, shown);
}

void TestControls::freshButtonIsOffWithoutStyle()
{
    Button button("48V");
    QCOMPARE(button.text(), QString("48V"));
    QVERIFY(!button.status);
    QVERIFY(button.styleSheet().isEmpty());
    QCOMPARE(button.cursor().shape(), Qt::PointingHandCursor);
    QCOMPARE(button.graphicsEffect(), button.shadowEffect);
    QCOMPARE(button.shadowEffect->parent(), &button);
    QVERIFY(!button.shadowEffect->isEnabled());
    QCOMPARE(button.shadowEffect->color(), QColor::fromString("#00ff7f"));

    // Sized from the width at construction (a parentless widget starts 640
    // wide), and kept when the owner fixes the width later.
    QCOMPARE(button.shadowEffect->blurRadius(), 6.4);
    button.setFixedWidth(80);
    QCOMPARE(button.shadowEffect->blurRadius(), 6.4);

    Button defaulted;
    QVERIFY(defaulted.text().isEmpty());
}

void TestControls::anyMouseButtonTogglesOnce_data()
{
    QTest::addColumn<Qt::MouseButton>("button");
    QTest::addColumn<Qt::KeyboardModifiers>("modifiers");

    QTest::newRow("left") << Qt::LeftButton << Qt::KeyboardModifiers();
    QTest::newRow("right") << Qt::RightButton << Qt::KeyboardModifiers();
    QTest::newRow("middle") << Qt::MiddleButton << Qt::KeyboardModifiers();
    QTest::newRow("ctrl+left") << Qt::LeftButton << Qt::KeyboardModifiers(Qt::ControlModifier);
}

void TestControls::anyMouseButtonTogglesOnce()
{
    QFETCH(Qt::MouseButton, button);
    QFETCH(Qt::KeyboardModifiers, modifiers);

    Button widget("Mute");
    QSignalSpy pressed(&widget, &Button::pressed);
    QSignalSpy toolkitPressed(&widget, &QAbstractButton::pressed);
    QSignalSpy clicked(&widget, &QAbstractButton::clicked);

    QTest::mouseClick(&widget, button, modifiers);
    QVERIFY(widget.status);
    QVERIFY(widget.shadowEffect->isEnabled());
    QCOMPARE(widget.styleSheet(), styleFor("#000000", "#00ff7f", 3));
    QCOMPARE(pressed.count(), 1);
    QCOMPARE(pressed.at(0).at(0).toBool(), true);

    QTest::mouseClick(&widget, button, modifiers);
    QVERIFY(!widget.status);
    QVERIFY(!widget.shadowEffect->isEnabled());
    QCOMPARE(widget.styleSheet(), styleFor("#00ff7f", "#1b1e23", 3));
    QCOMPARE(pressed.count(), 2);
    QCOMPARE(pressed.at(1).at(0).toBool(), false);

    // The toolkit's own press handling never runs.
    QCOMPARE(toolkitPressed.count(), 0);
    QCOMPARE(clicked.count(), 0);
    QVERIFY(!widget.isDown());
    QVERIFY(!widget.isChecked());
}

void TestControls::keyboardDoesNotToggle()
{
    Button button("Dim");
    QSignalSpy pressed(&button, &Button::pressed);
    QSignalSpy clicked(&button, &QAbstractButton::clicked);

    QTest::keyClick(&button, Qt::Key_Space);
    QCOMPARE(clicked.count(), 1);
    QVERIFY(!button.status);
    QCOMPARE(pressed.count(), 0);
}

void TestControls::setValueEmitsEvenWithoutChange()
{
    Button button;
    QSignalSpy pressed(&button, &Button::pressed);

    button.setValue(false);
    QCOMPARE(button.styleSheet(), styleFor("#00ff7f", "#1b1e23", 3));
    button.setValue(true);
    button.setValue(true);
    QVERIFY(button.status);
    QVERIFY(button.shadowEffect->isEnabled());
    QCOMPARE(button.styleSheet(), styleFor("#000000", "#00ff7f", 3));

    const QList<QList<QVariant>> expected = { { false }, { true }, { true } };
    QCOMPARE(QList<QList<QVariant>>(pressed), expected);
}

void TestControls::styleSheetFollowsStatusAndColours()
{
    Button button;
    button.updateStyle();
    const QString off = "QPushButton {   color: #00ff7f;   background-color: #1b1e23;   border-radius: 3px;}"
                        "QPushButton:pressed {   background-color: #1b1e23;}";
    QCOMPARE(button.styleSheet(), off);
    QVERIFY(!button.shadowEffect->isEnabled());

    // Colours assigned without updateStyle leave the look as it was.
    button.uncheckedTextColor = "#8a8f98";
    button.checkedTextColor = "#ffb000";
    button.uncheckedBackgroundColor = "#21252b";
    button.checkedBackgroundColor = "#21252b";
    button.glowColor = "#ffb000";
    button.borderRadius = 12;
    QCOMPARE(button.styleSheet(), off);
    QCOMPARE(button.shadowEffect->color(), QColor::fromString("#00ff7f"));

    button.updateStyle();
    QCOMPARE(button.styleSheet(), styleFor("#8a8f98", "#21252b", 12));
    QCOMPARE(button.shadowEffect->color(), QColor::fromString("#ffb000"));

    // The state goes in as it is, without emitting: only the owner's setter announces.
    QSignalSpy pressed(&button, &Button::pressed);
    button.status = true;
    button.updateStyle();
    QCOMPARE(button.styleSheet(), styleFor("#ffb000", "#21252b", 12));
    QVERIFY(button.shadowEffect->isEnabled());
    QCOMPARE(pressed.count(), 0);

    // addShadow re-sizes and re-colours the same glow, and only when asked.
    button.resize(80, 30);
    button.glowColor = "#ff0000";
    button.addShadow(false, 0.5);
    QCOMPARE(button.shadowEffect->blurRadius(), 6.4);
    button.addShadow(true, 0.5);
    QCOMPARE(button.graphicsEffect(), button.shadowEffect);
    QCOMPARE(button.shadowEffect->blurRadius(), 40.0);
    QCOMPARE(button.shadowEffect->color(), QColor::fromString("#ff0000"));
    QCOMPARE(button.shadowEffect->offset(), QPointF(0, 0));
}

void TestControls::litButtonGlows()
{
    // As the panels do it: built without a parent, then placed and sized.
    QWidget canvas;
    canvas.resize(120, 60);
    canvas.setStyleSheet("background-color: #2c313c;");
    auto* button = new Button("48V");
    button->setParent(&canvas);
    button->setGeometry(20, 15, 80, 30);
    button->updateStyle();

    const QColor background = QColor::fromString("#2c313c");
    const QPoint besideRight(101, 30);
    const QPoint besideBottom(60, 46);
    QImage image = canvas.grab().toImage();
    QCOMPARE(image.pixelColor(besideRight), background);
    QCOMPARE(image.pixelColor(besideBottom), background);

    button->setValue(true);
    image = canvas.grab().toImage();
    for (const QPoint& point : { besideRight, besideBottom }) {
        const QColor glow = image.pixelColor(point);
        QVERIFY2(glow.green() > background.green() + 25 && glow.red() < background.red(),
                 qPrintable(glow.name()));
    }

    button->setValue(false);
    image = canvas.grab().toImage();
    QCOMPARE(image.pixelColor(besideRight), background);
}

void TestControls::buttonReadsAsCheckable_data()
{
    QTest::addColumn<QString>("input");
    QTest::newRow("mouse") << "mouse";
    QTest::newRow("setValue") << "setValue";
    QTest::newRow("toggle action") << "toggle action";
}

void TestControls::buttonReadsAsCheckable()
{
    QFETCH(QString, input);

    Button button("48V");
    QAccessibleInterface* accessible = QAccessible::queryAccessibleInterface(&button);
    QVERIFY(accessible);
    QCOMPARE(accessible->role(), QAccessible::Button);
    QCOMPARE(accessible->text(QAccessible::Name), QString("48V"));
    QVERIFY(accessible->state().checkable);
    QVERIFY(!accessible->state().checked);
    QCOMPARE(accessible->text(QAccessible::Value), QString("off"));

    QSignalSpy pressed(&button, &Button::pressed);
    const auto switchTo = [&](bool on) {
        if (input == "mouse")
            QTest::mouseClick(&button, Qt::LeftButton);
        else if (input == "setValue")
            button.setValue(on);
        else
            accessible->actionInterface()->doAction(QAccessibleActionInterface::toggleAction());
    };
    for (bool on : { true, false }) {
        switchTo(on);
        QCOMPARE(button.status, on);
        QCOMPARE(accessible->state().checked, on);
        QVERIFY(accessible->state().checkable);
        QCOMPARE(accessible->text(QAccessible::Value), QString(on ? "on" : "off"));
    }
    const QList<QList<QVariant>> expected = { { true }, { false } };
    QCOMPARE(QList<QList<QVariant>>(pressed), expected);
    // The toolkit's own checked state stays unused, as with the mouse.
    QVERIFY(!button.isCheckable());
}

void TestControls::buttonTogglesFirstAndOnlyWhileEnabled()
{
    QWidget window;
    auto* elsewhere = new QLineEdit(&window);
    auto* button = new Button("Mute", &window);
    button->setGeometry(0, 40, 80, 30);
    button->setAccessibleName("Headphone mute");
    window.show();
    window.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&window));
    elsewhere->setFocus();
    QTRY_VERIFY(elsewhere->hasFocus());
    QAccessibleInterface* accessible = QAccessible::queryAccessibleInterface(button);
    QCOMPARE(accessible->text(QAccessible::Name), QString("Headphone mute"));
    QAccessibleActionInterface* actions = accessible->actionInterface();
    QCOMPARE(actions->actionNames(), QStringList({ QAccessibleActionInterface::toggleAction(),
                                                   QAccessibleActionInterface::setFocusAction() }));

    // The widget's own actions still work, and do not switch the button.
    QSignalSpy pressed(button, &Button::pressed);
    actions->doAction(QAccessibleActionInterface::setFocusAction());
    QTRY_VERIFY(button->hasFocus());
    QVERIFY(!button->status);

    button->setEnabled(false);
    QVERIFY(!actions->actionNames().contains(QAccessibleActionInterface::toggleAction()));
    actions->doAction(QAccessibleActionInterface::toggleAction());
    QVERIFY(!button->status);
    QCOMPARE(pressed.count(), 0);
}

void TestControls::galleryImageIsWritten()
{
    // Knobs and buttons in several states on the panel background, for a
    // person to look at.
    QWidget canvas;
    canvas.setStyleSheet("background-color: #2c313c;");
    canvas.resize(4 * 130 + 10, 210);

    const auto addKnob = [&](int column, int size, const std::function<void(Knob&)>& configure) {
        auto* knob = new Knob(&canvas);
        knob->setGeometry(10 + column * 130, 10 + (120 - size) / 2, size, size);
        configure(*knob);
    };
    addKnob(0, 120, [](Knob& knob) { knob.value = knob.minValue; });
    addKnob(1, 120, [](Knob& knob) {
        knob.minValue = 0;
        knob.maxValue = 56;
        knob.displayOffset = 9;
        knob.value = 5;
    });
    addKnob(2, 120, [](Knob& knob) {
        knob.value = knob.maxValue;
        knob.roundCap = false;
        knob.arcColor = QColor::fromString("#ffb000");
    });
    addKnob(3, 70, [](Knob& knob) {
        knob.arcWidth = 3;
        knob.value = -30;
        knob.showTrack = false;
        knob.fontSize = 8;
    });

    const auto addButton = [&](int column, const QString& text, bool on, bool panelColours) {
        auto* button = new Button(text);
        button->setParent(&canvas);
        button->setGeometry(20 + column * 130, 160, 80, 30);
        if (panelColours) {
            button->uncheckedTextColor = "#8a8f98";
            button->checkedTextColor = "#ffb000";
            button->uncheckedBackgroundColor = "#21252b";
            button->checkedBackgroundColor = "#21252b";
            button->glowColor = "#ffb000";
        }
        button->setValue(on);
    };
    addButton(0, "48V", false, false);
    addButton(1, "48V", true, false);
    addButton(2, "Mute", false, true);
    addButton(3, "Mute", true, true);

    const QImage image = canvas.grab().toImage();
    const QString path = QStringLiteral(KESTRUM_GALLERY_PATH);
    QFile::remove(path);
    QVERIFY(image.save(path));

    const QImage saved(path);
    QCOMPARE(saved.size(), canvas.size());
    QSet<QRgb> colours;
    for (int y = 0; y < saved.height(); y += 2) {
        for (int x = 0; x < saved.width(); x += 2)
            colours.insert(saved.pixel(x, y));
    }
    // Far more than the background and a handful of flat colours.
    QVERIFY2(colours.size() > 200, qPrintable(QString::number(colours.size())));
    QVERIFY(colours.contains(QColor::fromString("#00ffff").rgb()));
    QVERIFY(colours.contains(QColor::fromString("#ffb000").rgb()));
    QVERIFY(colours.contains(QColor::fromString("#44475a").rgb()));
}

QTEST_MAIN(TestControls)
#include "tst_controls.moc"
