// The rotary knob and the toggle button driven with real mouse, wheel, key
// and hover events, the knob's drawing read back from rendered images, and
// both as assistive tools see them through QAccessible.

#include "controls/Button.h"
#include "controls/Knob.h"

#include <QAccessible>
#include <QFontMetrics>
#include <QGraphicsDropShadowEffect>
#include <QLineEdit>
#include <QPainter>
#include <QSignalSpy>
#include <QTest>
#include <QtMath>

namespace {

void sendMouse(QWidget* widget, QEvent::Type type, const QPointF& position, Qt::MouseButton button,
               Qt::MouseButtons buttons, Qt::KeyboardModifiers modifiers = Qt::NoModifier)
{
    QMouseEvent event(type, position, widget->mapToGlobal(position), button, buttons, modifiers);
    QCoreApplication::sendEvent(widget, &event);
}

// "L", "RM", "LR": the mouse buttons named by their initials.
Qt::MouseButtons buttonsNamed(const QString& names)
{
    Qt::MouseButtons buttons;
    for (const QChar name : names)
        buttons |= name == 'L' ? Qt::LeftButton : name == 'R' ? Qt::RightButton : name == 'M' ? Qt::MiddleButton : Qt::NoButton;
    return buttons;
}

Qt::KeyboardModifiers modifiersNamed(const QString& names)
{
    Qt::KeyboardModifiers modifiers;
    for (const QString& name : names.split('+', Qt::SkipEmptyParts))
        modifiers |= name == "ctrl" ? Qt::ControlModifier : name == "shift" ? Qt::ShiftModifier : Qt::AltModifier;
    return modifiers;
}

// Only what the knob paints itself, on a transparent image.
QImage render(Knob& knob)
{
    QImage image(knob.size(), QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    knob.render(&image, QPoint(), QRegion(), QWidget::RenderFlags());
    return image;
}

// The colour in the middle of the arcs' stroke at a drawing angle (degrees,
// counter-clockwise from three o'clock).
QColor arcColourAt(const QImage& image, const Knob& knob, double degrees)
{
    const double radians = qDegreesToRadians(degrees);
    const double radius = knob.width() / 2.0 - knob.arcWidth;
    return image.pixelColor(qFloor(knob.width() / 2.0 + radius * qCos(radians)),
                            qFloor(knob.height() / 2.0 - radius * qSin(radians)));
}

// Counts the paint events of the widgets it watches.
struct PaintCounter : QObject {
    int paints = 0;
    bool eventFilter(QObject*, QEvent* event) override { paints += event->type() == QEvent::Paint; return false; }
};

} // namespace

class TestControls : public QObject
{
    Q_OBJECT

private slots:
    void knobStepsClampsAndAnnounces_data();
    void knobStepsClampsAndAnnounces();
    void arcFollowsTheValue_data();
    void arcFollowsTheValue();
    void faceAndTextFaceTheUser_data();
    void faceAndTextFaceTheUser();
    void buttonTogglesOnce_data();
    void buttonTogglesOnce();
};

void TestControls::knobStepsClampsAndAnnounces_data()
{
    QTest::addColumn<int>("start");
    QTest::addColumn<QString>("events");
    QTest::addColumn<QList<int>>("expected"); // every value announced; the last is the knob's

    // Range -10..10 throughout. A move starts from the last handled one, (0, 0) at first.
    QTest::newRow("set clamps, and announces an unchanged value") << 3 << "set:1000 set:10 set:-70 set:-10 set:4" << QList<int> { 10, 10, -10, -10, 4 };
    QTest::newRow("tiny wheel delta is one step") << 0 << "wheel:0,1" << QList<int> { 1 };
    QTest::newRow("horizontal wheel lowers") << 0 << "wheel:120,0" << QList<int> { -1 };
    QTest::newRow("wheel at the maximum and the minimum") << 0 << "set:10 wheel:0,120 set:-10 wheel:0,-120" << QList<int> { 10, 10, -10, -10 };
    QTest::newRow("drag up and right") << 0 << "move:50,50,L move:53,45,L" << QList<int> { 0, 2 };
    QTest::newRow("drag up and left cancel out") << 0 << "move:50,50,L move:47,45,L" << QList<int> { 0, 0 };
    QTest::newRow("drag down and left") << 0 << "move:50,50,L move:49,51,L" << QList<int> { 0, -2 };
    QTest::newRow("each axis checks the top") << 10 << "move:50,50,L move:40,40,L" << QList<int> { 10, 9 };
    QTest::newRow("each axis checks the bottom") << -10 << "move:50,50,L move:60,60,L" << QList<int> { -9, -9 };
    QTest::newRow("under half a pixel") << 0 << "move:50,50,L move:50.4,49.6,L" << QList<int> { 0, 0 };
    QTest::newRow("half a pixel right") << 0 << "move:50,50,L move:50.5,50,L" << QList<int> { 0, 1 };
    QTest::newRow("half a pixel up from zero") << 0 << "move:0,-0.5,L" << QList<int> { 1 };
    QTest::newRow("drags need the left button") << 0 << "move:30,0,L move:30,-40,R move:80,90,M move:80,90, move:30,5,LR" << QList<int> { 1, 0 };
    QTest::newRow("a new drag starts where the last ended") << 0 << "move:30,0,L press:L move:10,5,L" << QList<int> { 1, -1 };
    QTest::newRow("ctrl+left resets") << 5 << "press:L,ctrl" << QList<int> { -10 };
    QTest::newRow("ctrl+shift+middle resets") << 5 << "press:M,ctrl+shift" << QList<int> { -10 };
    QTest::newRow("plain, shift and alt clicks do nothing") << 5 << "press:L press:L,shift press:R,alt" << QList<int> {};
    QTest::newRow("double-click before the first paint resets") << 5 << "double:60,60" << QList<int> { -10 };
    QTest::newRow("device values wait while hovered") << 5 << "enter driver:-3 wheel:0,120 leave driver:-3 driver:100" << QList<int> { 6, -3, 10 };
    // Typed into the editor that a double-click on the shown number opens.
    QTest::newRow("shown number unchanged, number, with unit, unit in the wrong case") << 3 << "offset:9 edit:12 edit:15 edit:16dB edit:17db" << QList<int> { 3, 6, 7, 7 };
    QTest::newRow("above and below the range, empty, too big for an int") << 3 << "offset:9 edit:70 edit:-30dB edit: edit:99999999999" << QList<int> { 10, -10, -10, -10 };
    QTest::newRow("smallest int minus the offset") << 3 << "offset:9 edit:-2147483648" << QList<int> { -10 };
    QTest::newRow("largest int minus a negative offset") << 3 << "offset:-9 edit:2147483647" << QList<int> { 10 };
    QTest::newRow("no offset") << 3 << "edit:7dB" << QList<int> { 7 };
    // Set by an assistive tool: rounded to a step and bounded; what is no
    // number is ignored.
    QTest::newRow("tool sets a step") << 3 << "tool:5 tool:5" << QList<int> { 5, 5 };
    QTest::newRow("tool rounds a fraction") << 3 << "tool:-6.7" << QList<int> { -7 };
    QTest::newRow("tool far above and below the range, a number as text") << 3 << "tool:1e12 tool:-1e12 tool:'8" << QList<int> { 10, -10, 8 };
    QTest::newRow("tool gives no number") << 3 << "tool:'loud tool:none tool:nan tool:inf tool:-inf" << QList<int> {};
}

void TestControls::knobStepsClampsAndAnnounces()
{
    QFETCH(int, start);
    QFETCH(QString, events);
    QFETCH(QList<int>, expected);

    Knob knob;
    knob.resize(120, 120);
    knob.minValue = -10;
    knob.maxValue = 10;
    knob.value = start;
    QSignalSpy spy(&knob, &Knob::valueChangedSig);
    QAccessibleInterface* accessible = QAccessible::queryAccessibleInterface(&knob);
    QCOMPARE(accessible->role(), QAccessible::Dial);
    QAccessibleValueInterface* dial = accessible->valueInterface();
    const QPointF centre(60, 60);
    for (const QString& event : events.split(' ')) {
        const QString verb = event.section(':', 0, 0);
        const QStringList arguments = event.section(':', 1).split(',');
        const QPointF at(arguments.value(0).toDouble(), arguments.value(1).toDouble());
        if (verb == "set" || verb == "driver") {
            (knob.*(verb == "set" ? &Knob::setValue : &Knob::driverSetValue))(arguments[0].toInt());
        } else if (verb == "wheel") {
            QWheelEvent wheel(centre, knob.mapToGlobal(centre), QPoint(), at.toPoint(), Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
            QCoreApplication::sendEvent(&knob, &wheel);
        } else if (verb == "move") {
            sendMouse(&knob, QEvent::MouseMove, at, Qt::NoButton, buttonsNamed(arguments[2]));
        } else if (verb == "press") {
            const Qt::MouseButton button = Qt::MouseButton(buttonsNamed(arguments[0]).toInt());
            sendMouse(&knob, QEvent::MouseButtonPress, centre, button, button, modifiersNamed(arguments.value(1)));
        } else if (verb == "offset") {
            knob.displayOffset = arguments[0].toInt();
        } else if (verb == "edit") {
            knob.fontSize = 36; // a text of 40 pixels or more each way: narrowed on all four sides
            render(knob);
            const QRect text = knob.textRect;
            const int dx = int(0.025 * text.width());
            QVERIFY(dx > 0 && int(0.025 * text.height()) > 0);
            // The border counts as the text.
            sendMouse(&knob, QEvent::MouseButtonDblClick, text.bottomRight(), Qt::LeftButton, Qt::LeftButton);
            QVERIFY(!knob.editor->isHidden() && knob.focusWidget() == knob.editor);
            QCOMPARE(knob.editor->selectedText(), QString::number(knob.value + knob.displayOffset));
            QCOMPARE(knob.editor->geometry(), text.adjusted(dx, int(0.025 * text.height()), -dx, -int(0.025 * text.height())));
            QTest::keyClick(knob.editor, Qt::Key_Delete);
            QTest::keyClicks(knob.editor, event.section(':', 1));
            QTest::keyClick(knob.editor, Qt::Key_Return);
        } else if (verb == "double") {
            sendMouse(&knob, QEvent::MouseButtonDblClick, at, Qt::LeftButton, Qt::LeftButton);
        } else if (verb == "enter") {
            QEnterEvent enter(centre, centre, knob.mapToGlobal(centre));
            QCoreApplication::sendEvent(&knob, &enter);
        } else if (verb == "leave") {
            QEvent leave(QEvent::Leave);
            QCoreApplication::sendEvent(&knob, &leave);
        } else {
            QVERIFY2(verb == "tool", qPrintable(event));
            const QString text = event.section(':', 1);
            dial->setCurrentValue(text.startsWith('\'') ? QVariant(text.mid(1)) : text == "none" ? QVariant() : QVariant(text.toDouble()));
        }
    }
    QList<int> announced;
    for (const QList<QVariant>& signal : spy)
        announced << signal.at(0).toInt();
    QCOMPARE(announced, expected);
    QCOMPARE(knob.value, expected.isEmpty() ? start : expected.last());
    QVERIFY(knob.editor->isHidden());
    QCOMPARE(QVariantList({ dial->currentValue(), dial->minimumValue(), dial->maximumValue(), dial->minimumStepSize() }),
             QVariantList({ knob.value, -10, 10, 1 }));
}

void TestControls::arcFollowsTheValue_data()
{
    QTest::addColumn<int>("minValue");
    QTest::addColumn<int>("maxValue");
    QTest::addColumn<int>("value");
    QTest::addColumn<QList<double>>("arcAngles");
    QTest::addColumn<QList<double>>("restAngles");

    // The sweep starts at 225° and runs clockwise to -45°; the pen's round
    // ends reach about 4° beyond an arc's end in a 120-pixel knob.
    const QList<double> wholeTrack = { 225, 215, 135, 90, 0, -35, -45 };
    QTest::newRow("minimum") << -80 << 6 << -80 << QList<double>() << wholeTrack;
    QTest::newRow("maximum") << -80 << 6 << 6 << wholeTrack << QList<double>();
    QTest::newRow("a third") << 0 << 90 << 30 << QList<double> { 225, 180, 142 } << QList<double> { 128, 90, 0, -45 };
    QTest::newRow("half") << 10 << 280 << 145 << QList<double> { 225, 135, 97 } << QList<double> { 83, 0, -45 };
}

void TestControls::arcFollowsTheValue()
{
    QFETCH(int, minValue);
    QFETCH(int, maxValue);
    QFETCH(int, value);
    QFETCH(QList<double>, arcAngles);
    QFETCH(QList<double>, restAngles);

    for (bool showTrack : { true, false }) {
        Knob knob;
        knob.resize(120, 120);
        knob.minValue = minValue;
        knob.maxValue = maxValue;
        knob.value = value;
        knob.showTrack = showTrack;
        const QImage image = render(knob);
        for (double angle : arcAngles)
            QVERIFY2(arcColourAt(image, knob, angle) == knob.arcColor, qPrintable(QString("value arc at %1°").arg(angle)));
        // Where the value arc does not reach: the track, or nothing at all;
        // the gap at the bottom stays empty.
        const QColor rest = showTrack ? knob.trackColor : QColor(Qt::transparent);
        for (double angle : restAngles)
            QVERIFY2(arcColourAt(image, knob, angle) == rest, qPrintable(QString("rest at %1°, track %2").arg(angle).arg(showTrack)));
        for (double angle : { -80, -90, -100 })
            QCOMPARE(arcColourAt(image, knob, angle).alpha(), 0);
    }
}

void TestControls::faceAndTextFaceTheUser_data()
{
    QTest::addColumn<int>("size");
    QTest::addColumn<int>("arcWidth");
    QTest::addColumn<double>("ratio");
    QTest::newRow("large") << 120 << 7 << 0.8;
    QTest::newRow("small, thin arcs") << 70 << 3 << 0.8;
    QTest::newRow("small face") << 120 << 7 << 0.7;
}

// The face is a disc of knobRatio times the arc box, centred in it. The
// value, shifted by displayOffset, is written centred on it.
void TestControls::faceAndTextFaceTheUser()
{
    QFETCH(int, size);
    QFETCH(int, arcWidth);
    QFETCH(double, ratio);

    Knob knob;
    knob.resize(size, size);
    knob.arcWidth = arcWidth;
    knob.knobRatio = ratio;
    knob.showTrack = false;
    knob.displayOffset = 9;
    knob.value = knob.minValue;
    const QImage withText = render(knob);
    const QRect text = knob.textRect;
    QCOMPARE(text, QFontMetrics(QFont(knob.fontFamily, knob.fontSize)).boundingRect(knob.rect(), Qt::AlignCenter, "-71dB"));
    // Hidden, the text is not drawn, its rectangle is kept, and a
    // double-click on it resets rather than edits.
    knob.showText = false;
    knob.value = 0;
    const QImage image = render(knob);
    QVERIFY(image.copy(text) != withText.copy(text));
    QCOMPARE(knob.textRect, text);
    sendMouse(&knob, QEvent::MouseButtonDblClick, text.center(), Qt::LeftButton, Qt::LeftButton);
    QVERIFY(knob.editor->isHidden());
    QCOMPARE(knob.value, knob.minValue);

    const double centre = size / 2.0;
    const double radius = ratio * (size - 2 * arcWidth) / 2;
    const auto isGrey = [](const QColor& colour) {
        return colour.alpha() == 255 && colour.red() == colour.green() && colour.green() == colour.blue();
    };
    // Solid grey just inside the face's radius, nothing just outside.
    for (const QPointF direction : { QPointF(-1, 0), QPointF(0, -1), QPointF(-M_SQRT1_2, -M_SQRT1_2), QPointF(M_SQRT1_2, M_SQRT1_2) }) {
        const auto at = [&](double distance) {
            return image.pixelColor(qFloor(centre + direction.x() * distance), qFloor(centre + direction.y() * distance));
        };
        QVERIFY(isGrey(at(0)) && isGrey(at(radius - 2)));
        QCOMPARE(at(radius + 3).alpha(), 0);
    }

    // Asked for, it glows in its own colour, as wide as the given share of the knob.
    knob.shadowColor = Qt::magenta;
    knob.addShadow(false, 0.5);
    QVERIFY(!knob.graphicsEffect());
    knob.addShadow(true, 0.5);
    const auto* glow = qobject_cast<QGraphicsDropShadowEffect*>(knob.graphicsEffect());
    QVERIFY(glow && glow->blurRadius() == size / 2 && glow->color() == QColor(Qt::magenta) && glow->offset().isNull());

    // Shown, a knob draws a new value at once.
    Knob shown;
    shown.show();
    QVERIFY(QTest::qWaitForWindowExposed(&shown));
    PaintCounter counter;
    shown.installEventFilter(&counter);
    shown.setValue(shown.maxValue);
    QTRY_VERIFY(counter.paints > 0);
}

void TestControls::buttonTogglesOnce_data()
{
    QTest::addColumn<QString>("input");
    QTest::newRow("left") << "L";
    QTest::newRow("middle") << "M";
    QTest::newRow("ctrl+left") << "L,ctrl";
    QTest::newRow("setValue") << "setValue";
    QTest::newRow("toggle action") << "toggle";
}

void TestControls::buttonTogglesOnce()
{
    QFETCH(QString, input);

    Button button("48V");
    button.checkedTextColor = "#ffb000";
    button.checkedBackgroundColor = "#101010";
    button.glowColor = "#ffb000";
    button.borderRadius = 12;
    button.show();
    QVERIFY(QTest::qWaitForWindowActive(&button));
    QSignalSpy pressed(&button, &Button::pressed);
    QSignalSpy clicked(&button, &QAbstractButton::clicked);
    // Fresh: off, unlit, and no look of its own until a state is applied;
    // Space goes through the toolkit (clicked) and does not switch it.
    QCOMPARE(button.cursor().shape(), Qt::PointingHandCursor);
    QCOMPARE(button.graphicsEffect(), button.shadowEffect);
    QCOMPARE(button.shadowEffect->offset(), QPointF(0, 0));
    QCOMPARE(button.shadowEffect->color(), QColor::fromString("#00ff7f"));
    QTest::keyClick(&button, Qt::Key_Space);
    QVERIFY(!button.status && !button.shadowEffect->isEnabled() && button.styleSheet().isEmpty());
    QSignalSpy toolkitPressed(&button, &QAbstractButton::pressed);
    QAccessibleInterface* accessible = QAccessible::queryAccessibleInterface(&button);
    QCOMPARE(accessible->role(), QAccessible::Button);
    QCOMPARE(accessible->text(QAccessible::Name), QString("48V"));

    for (bool on : { true, false }) {
        if (input == "setValue")
            button.setValue(on);
        else if (input == "toggle")
            accessible->actionInterface()->doAction(QAccessibleActionInterface::toggleAction());
        else
            QTest::mouseClick(&button, Qt::MouseButton(buttonsNamed(input.section(',', 0, 0)).toInt()), modifiersNamed(input.section(',', 1)));
        QCOMPARE(button.status, on);
        QCOMPARE(button.shadowEffect->isEnabled(), on);
        QCOMPARE(button.shadowEffect->color(), QColor::fromString("#ffb000"));
        QVERIFY(button.styleSheet().contains(on ? "color: #ffb000;" : "color: #00ff7f;"));
        QVERIFY(accessible->state().checkable);
        QCOMPARE(accessible->state().checked, on);
        QCOMPARE(accessible->text(QAccessible::Value), QString(on ? "on" : "off"));
    }
    QCOMPARE(QList<QList<QVariant>>(pressed), (QList<QList<QVariant>> { { true }, { false } }));
    // The toolkit's own press handling and checked state stay unused.
    QCOMPARE(toolkitPressed.count(), 0);
    QCOMPARE(clicked.count(), 1);
    QVERIFY(!button.isDown() && !button.isCheckable());

    // For assistive tools the toggle comes first, the widget's own actions
    // still work and switch nothing, and a disabled button cannot be switched.
    QAccessibleActionInterface* actions = accessible->actionInterface();
    QCOMPARE(actions->actionNames(), QStringList({ QAccessibleActionInterface::toggleAction(), QAccessibleActionInterface::setFocusAction() }));
    button.clearFocus();
    actions->doAction(QAccessibleActionInterface::setFocusAction());
    QTRY_VERIFY(button.hasFocus());
    button.setEnabled(false);
    QVERIFY(!actions->actionNames().contains(QAccessibleActionInterface::toggleAction()));
    actions->doAction(QAccessibleActionInterface::toggleAction());
    QCOMPARE(pressed.count(), 2);
    QVERIFY(!button.status);
}

QTEST_MAIN(TestControls)
#include "tst_controls.moc"
