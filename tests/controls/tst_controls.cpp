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

using I = QList<int>;
using D = QList<double>;

void mouse(QWidget* widget, QEvent::Type type, const QPointF& position, Qt::MouseButton button, Qt::MouseButtons buttons,
           Qt::KeyboardModifiers modifiers = Qt::NoModifier)
{
    QMouseEvent event(type, position, widget->mapToGlobal(position), button, buttons, modifiers);
    QCoreApplication::sendEvent(widget, &event);
}

void doubleClick(QWidget* widget, const QPointF& position)
{
    mouse(widget, QEvent::MouseButtonDblClick, position, Qt::LeftButton, Qt::LeftButton);
}

// "L", "RM", "LR": the mouse buttons named by their initials.
Qt::MouseButtons buttons(const QString& names)
{
    Qt::MouseButtons found;
    for (const QChar name : names)
        found |= name == 'L' ? Qt::LeftButton : name == 'R' ? Qt::RightButton : name == 'M' ? Qt::MiddleButton : Qt::NoButton;
    return found;
}

Qt::KeyboardModifiers modifiers(const QString& names)
{
    Qt::KeyboardModifiers found;
    for (const QString& name : names.split('+', Qt::SkipEmptyParts))
        found |= name == "ctrl" ? Qt::ControlModifier : name == "shift" ? Qt::ShiftModifier : Qt::AltModifier;
    return found;
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
QColor arcAt(const QImage& image, const Knob& knob, double degrees)
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
    void knob_data()
    {
        QTest::addColumn<int>("start");
        QTest::addColumn<QString>("events");
        // Every value announced; the last is the knob's.
        QTest::addColumn<I>("expected");
        const auto add = [](const char* tag, int start, const char* events, const I& expected) { QTest::newRow(tag) << start << QString(events) << expected; };

        // Range -10..10 throughout. A move starts from the last handled one, (0, 0) at first.
        add("set clamps, announces unchanged", 3, "set:1000 set:10 set:-70 set:-10 set:4", { 10, 10, -10, -10, 4 });
        add("tiny wheel", 0, "wheel:0,1", { 1 });
        add("horizontal wheel", 0, "wheel:120,0", { -1 });
        add("wheel at the ends", 0, "set:10 wheel:0,120 set:-10 wheel:0,-120", { 10, 10, -10, -10 });
        add("drag up and right", 0, "move:50,50,L move:53,45,L", { 0, 2 });
        add("drag up and left", 0, "move:50,50,L move:47,45,L", { 0, 0 });
        add("drag down and left", 0, "move:50,50,L move:49,51,L", { 0, -2 });
        add("each axis tops", 10, "move:50,50,L move:40,40,L", { 10, 9 });
        add("each axis bottoms", -10, "move:50,50,L move:60,60,L", { -9, -9 });
        add("under half a pixel", 0, "move:50,50,L move:50.4,49.6,L", { 0, 0 });
        add("half a pixel right", 0, "move:50,50,L move:50.5,50,L", { 0, 1 });
        add("half a pixel up from zero", 0, "move:0,-0.5,L", { 1 });
        add("drags need the left button", 0, "move:30,0,L move:30,-40,R move:80,90,M move:80,90, move:30,5,LR", { 1, 0 });
        add("new drag from the last", 0, "move:30,0,L press:L move:10,5,L", { 1, -1 });
        add("ctrl+left resets", 5, "press:L,ctrl", { -10 });
        add("ctrl+shift+middle resets", 5, "press:M,ctrl+shift", { -10 });
        add("other clicks", 5, "press:L press:L,shift press:R,alt", {});
        add("double-click unpainted", 5, "double:60,60", { -10 });
        add("driver waits for hover", 5, "enter driver:-3 wheel:0,120 leave driver:-3 driver:100", { 6, -3, 10 });
        // Typed into the editor that a double-click on the shown number opens.
        add("edit same, number, unit, odd case", 3, "offset:9 edit:12 edit:15 edit:16dB edit:17db", { 3, 6, 7, 7 });
        add("edit out of range, empty, too big", 3, "offset:9 edit:70 edit:-30dB edit: edit:99999999999", { 10, -10, -10, -10 });
        add("edit int min", 3, "offset:9 edit:-2147483648", { -10 });
        add("edit int max", 3, "offset:-9 edit:2147483647", { 10 });
        add("edit, no offset", 3, "edit:7dB", { 7 });
        // Set by an assistive tool: rounded to a step and bounded; what is no
        // number is ignored.
        add("tool sets a step", 3, "tool:5 tool:5", { 5, 5 });
        add("tool rounds a fraction", 3, "tool:-6.7", { -7 });
        add("tool out of range, text", 3, "tool:1e12 tool:-1e12 tool:'8", { 10, -10, 8 });
        add("tool gives no number", 3, "tool:'loud tool:none tool:nan tool:inf tool:-inf", {});
    }

    void knob()
    {
        QFETCH(int, start);
        QFETCH(QString, events);
        QFETCH(I, expected);

        Knob knob;
        knob.resize(120, 120);
        std::tie(knob.minValue, knob.maxValue, knob.value) = std::tuple(-10, 10, start);
        QSignalSpy spy(&knob, &Knob::valueChangedSig);
        QAccessibleInterface* tool = QAccessible::queryAccessibleInterface(&knob);
        QCOMPARE(tool->role(), QAccessible::Dial);
        QAccessibleValueInterface* dial = tool->valueInterface();
        const QPointF centre(60, 60);
        for (const QString& event : events.split(' ')) {
            const QString verb = event.section(':', 0, 0);
            const QStringList args = event.section(':', 1).split(',');
            const QPointF at(args.value(0).toDouble(), args.value(1).toDouble());
            if (verb == "set" || verb == "driver") {
                (knob.*(verb == "set" ? &Knob::setValue : &Knob::driverSetValue))(args[0].toInt());
            } else if (verb == "wheel") {
                QWheelEvent wheel(centre, knob.mapToGlobal(centre), QPoint(), at.toPoint(), Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
                QCoreApplication::sendEvent(&knob, &wheel);
            } else if (verb == "move") {
                mouse(&knob, QEvent::MouseMove, at, Qt::NoButton, buttons(args[2]));
            } else if (verb == "press") {
                const Qt::MouseButton button = Qt::MouseButton(buttons(args[0]).toInt());
                mouse(&knob, QEvent::MouseButtonPress, centre, button, button, modifiers(args.value(1)));
            } else if (verb == "offset") {
                knob.displayOffset = args[0].toInt();
            } else if (verb == "edit") {
                // A text of 40 pixels or more each way: narrowed on all four sides.
                knob.fontSize = 36;
                render(knob);
                const QRect text = knob.textRect;
                const int dx = int(0.025 * text.width()), dy = int(0.025 * text.height());
                QVERIFY(dx > 0 && dy > 0);
                // The border counts as the text.
                doubleClick(&knob, text.bottomRight());
                QVERIFY(!knob.editor->isHidden() && knob.focusWidget() == knob.editor);
                QCOMPARE(knob.editor->selectedText(), QString::number(knob.value + knob.displayOffset));
                QCOMPARE(knob.editor->geometry(), text.adjusted(dx, dy, -dx, -dy));
                QTest::keyClick(knob.editor, Qt::Key_Delete);
                QTest::keyClicks(knob.editor, event.section(':', 1));
                QTest::keyClick(knob.editor, Qt::Key_Return);
            } else if (verb == "double") {
                doubleClick(&knob, at);
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
        I announced;
        for (const QList<QVariant>& signal : spy)
            announced << signal.at(0).toInt();
        QCOMPARE(announced, expected);
        QCOMPARE(knob.value, expected.isEmpty() ? start : expected.last());
        QVERIFY(knob.editor->isHidden());
        QCOMPARE(QVariantList({ dial->currentValue(), dial->minimumValue(), dial->maximumValue(), dial->minimumStepSize() }),
                 QVariantList({ knob.value, -10, 10, 1 }));
    }

    void arc_data()
    {
        QTest::addColumn<int>("minValue");
        QTest::addColumn<int>("maxValue");
        QTest::addColumn<int>("value");
        QTest::addColumn<D>("arcAngles");
        QTest::addColumn<D>("restAngles");

        // The sweep starts at 225° and runs clockwise to -45°; the pen's round
        // ends reach about 4° beyond an arc's end in a 120-pixel knob.
        const D wholeTrack = { 225, 215, 135, 90, 0, -35, -45 };
        QTest::newRow("minimum") << -80 << 6 << -80 << D() << wholeTrack;
        QTest::newRow("maximum") << -80 << 6 << 6 << wholeTrack << D();
        QTest::newRow("a third") << 0 << 90 << 30 << D { 225, 180, 142 } << D { 128, 90, 0, -45 };
        QTest::newRow("half") << 10 << 280 << 145 << D { 225, 135, 97 } << D { 83, 0, -45 };
    }

    void arc()
    {
        QFETCH(int, minValue);
        QFETCH(int, maxValue);
        QFETCH(int, value);
        QFETCH(D, arcAngles);
        QFETCH(D, restAngles);

        for (bool showTrack : { true, false }) {
            Knob knob;
            knob.resize(120, 120);
            std::tie(knob.minValue, knob.maxValue, knob.value, knob.showTrack) = std::tuple(minValue, maxValue, value, showTrack);
            const QImage image = render(knob);
            for (double angle : arcAngles)
                QVERIFY2(arcAt(image, knob, angle) == knob.arcColor, qPrintable(QString("value arc at %1°").arg(angle)));
            // Where the value arc does not reach: the track, or nothing at all;
            // the gap at the bottom stays empty.
            const QColor rest = showTrack ? knob.trackColor : QColor(Qt::transparent);
            for (double angle : restAngles)
                QVERIFY2(arcAt(image, knob, angle) == rest, qPrintable(QString("rest at %1°, track %2").arg(angle).arg(showTrack)));
            for (double angle : { -80, -90, -100 })
                QCOMPARE(arcAt(image, knob, angle).alpha(), 0);
        }
    }

    void face_data()
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
    void face()
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
        doubleClick(&knob, text.center());
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

    void button_data()
    {
        QTest::addColumn<QString>("input");
        QTest::newRow("left") << "L";
        QTest::newRow("middle") << "M";
        QTest::newRow("ctrl+left") << "L,ctrl";
        QTest::newRow("setValue") << "setValue";
        QTest::newRow("toggle action") << "toggle";
    }

    void button()
    {
        QFETCH(QString, input);

        Button button("48V");
        button.checkedTextColor = button.glowColor = "#ffb000";
        button.checkedBackgroundColor = "#101010";
        button.show();
        QVERIFY(QTest::qWaitForWindowActive(&button));
        QSignalSpy pressed(&button, &Button::pressed);
        QSignalSpy clicked(&button, &QAbstractButton::clicked);
        // Fresh: off, unlit, and no look of its own until a state is applied;
        // Space goes through the toolkit (clicked) and does not switch it.
        QTest::keyClick(&button, Qt::Key_Space);
        QVERIFY(!button.status && !button.shadowEffect->isEnabled() && button.styleSheet().isEmpty());
        QSignalSpy toolkitPressed(&button, &QAbstractButton::pressed);
        QAccessibleInterface* tool = QAccessible::queryAccessibleInterface(&button);
        QCOMPARE(tool->role(), QAccessible::Button);
        QCOMPARE(tool->text(QAccessible::Name), QString("48V"));

        for (bool on : { true, false }) {
            if (input == "setValue")
                button.setValue(on);
            else if (input == "toggle")
                tool->actionInterface()->doAction(QAccessibleActionInterface::toggleAction());
            else
                QTest::mouseClick(&button, Qt::MouseButton(buttons(input.section(',', 0, 0)).toInt()), modifiers(input.section(',', 1)));
            QVERIFY(button.status == on && button.shadowEffect->isEnabled() == on && tool->state().checkable && tool->state().checked == on);
            QCOMPARE(button.shadowEffect->color(), QColor::fromString("#ffb000"));
            QVERIFY(button.styleSheet().contains(on ? "color: #ffb000;" : "color: #00ff7f;"));
            QCOMPARE(tool->text(QAccessible::Value), QString(on ? "on" : "off"));
        }
        QCOMPARE(QList<QList<QVariant>>(pressed), (QList<QList<QVariant>> { { true }, { false } }));
        // The toolkit's own press handling and checked state stay unused.
        QCOMPARE(toolkitPressed.count(), 0);
        QCOMPARE(clicked.count(), 1);
        QVERIFY(!button.isDown() && !button.isCheckable());

        // For assistive tools the toggle comes first, the widget's own actions
        // still work and switch nothing, and a disabled button cannot be switched.
        QAccessibleActionInterface* actions = tool->actionInterface();
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
};

QTEST_MAIN(TestControls)
#include "tst_controls.moc"
