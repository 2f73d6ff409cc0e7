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
using A = QAccessibleActionInterface;

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
QImage render(Knob& k)
{
    QImage image(k.size(), QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    k.render(&image, QPoint(), QRegion(), QWidget::RenderFlags());
    return image;
}

// The colour in the middle of the arcs' stroke at a drawing angle (degrees,
// counter-clockwise from three o'clock).
QColor arcAt(const QImage& image, const Knob& k, double degrees)
{
    const double radians = qDegreesToRadians(degrees);
    const double radius = k.width() / 2.0 - k.arcWidth;
    return image.pixelColor(qFloor(k.width() / 2.0 + radius * qCos(radians)),
                            qFloor(k.height() / 2.0 - radius * qSin(radians)));
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
        const auto add = [](int start, const char* events, const I& expected) { QTest::newRow(events) << start << QString(events) << expected; };

        // Range -10..10 throughout. A move starts from the last handled one, (0, 0) at first.
        // Announced even when unchanged.
        add(3, "set:1000 set:10 set:-70 set:-10 set:4", { 10, 10, -10, -10, 4 });
        add(0, "wheel:0,1", { 1 });
        add(0, "wheel:120,0", { -1 });
        add(0, "set:10 wheel:0,120 set:-10 wheel:0,-120", { 10, 10, -10, -10 });
        add(0, "move:50,50,L move:53,45,L", { 0, 2 });
        add(0, "move:50,50,L move:47,45,L", { 0, 0 });
        add(0, "move:50,50,L move:49,51,L", { 0, -2 });
        // Each axis counts on its own, within the range.
        add(10, "move:50,50,L move:40,40,L", { 10, 9 });
        add(-10, "move:50,50,L move:60,60,L", { -9, -9 });
        add(0, "move:50,50,L move:50.4,49.6,L", { 0, 0 });
        add(0, "move:50,50,L move:50.5,50,L", { 0, 1 });
        add(0, "move:0,-0.5,L", { 1 });
        // Drags need the left button; a new drag starts from the last move.
        add(0, "move:30,0,L move:30,-40,R move:80,90,M move:80,90, move:30,5,LR", { 1, 0 });
        add(0, "move:30,0,L press:L move:10,5,L", { 1, -1 });
        // Ctrl-clicks reset, other clicks do nothing; a double-click before the first paint resets.
        add(5, "press:L,ctrl", { -10 });
        add(5, "press:M,ctrl+shift", { -10 });
        add(5, "press:L press:L,shift press:R,alt", {});
        add(5, "double:60,60", { -10 });
        // The driver's value waits while hovered.
        add(5, "enter driver:-3 wheel:0,120 leave driver:-3 driver:100", { 6, -3, 10 });
        // Typed into the editor that a double-click on the shown number opens.
        add(3, "offset:9 edit:12 edit:15 edit:16dB edit:17db", { 3, 6, 7, 7 });
        add(3, "offset:9 edit:70 edit:-30dB edit: edit:99999999999", { 10, -10, -10, -10 });
        add(3, "offset:9 edit:-2147483648", { -10 });
        add(3, "offset:-9 edit:2147483647", { 10 });
        add(3, "edit:7dB", { 7 });
        // Set by an assistive tool: rounded to a step and bounded; what is no
        // number is ignored.
        add(3, "tool:5 tool:5", { 5, 5 });
        add(3, "tool:-6.7", { -7 });
        add(3, "tool:1e12 tool:-1e12 tool:'8", { 10, -10, 8 });
        add(3, "tool:'loud tool:none tool:nan tool:inf tool:-inf", {});
    }

    void knob()
    {
        QFETCH(int, start);
        QFETCH(QString, events);
        QFETCH(I, expected);

        Knob k;
        k.resize(120, 120);
        std::tie(k.minValue, k.maxValue, k.value) = std::tuple(-10, 10, start);
        QSignalSpy spy(&k, &Knob::valueChangedSig);
        auto* tool = QAccessible::queryAccessibleInterface(&k);
        QCOMPARE(tool->role(), QAccessible::Dial);
        auto* dial = tool->valueInterface();
        const QPointF centre(60, 60);
        for (const QString& event : events.split(' ')) {
            const QString verb = event.section(':', 0, 0);
            const QStringList args = event.section(':', 1).split(',');
            const QPointF at(args.value(0).toDouble(), args.value(1).toDouble());
            if (verb == "set" || verb == "driver") {
                (k.*(verb == "set" ? &Knob::setValue : &Knob::driverSetValue))(args[0].toInt());
            } else if (verb == "wheel") {
                QWheelEvent wheel(centre, k.mapToGlobal(centre), QPoint(), at.toPoint(), Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
                QCoreApplication::sendEvent(&k, &wheel);
            } else if (verb == "move") {
                mouse(&k, QEvent::MouseMove, at, Qt::NoButton, buttons(args[2]));
            } else if (verb == "press") {
                const Qt::MouseButton button = Qt::MouseButton(buttons(args[0]).toInt());
                mouse(&k, QEvent::MouseButtonPress, centre, button, button, modifiers(args.value(1)));
            } else if (verb == "offset") {
                k.displayOffset = args[0].toInt();
            } else if (verb == "edit") {
                // A text of 40 pixels or more each way: narrowed on all four sides.
                k.fontSize = 36;
                render(k);
                const QRect text = k.textRect;
                const int dx = int(0.025 * text.width()), dy = int(0.025 * text.height());
                QVERIFY(dx > 0 && dy > 0);
                // The border counts as the text.
                doubleClick(&k, text.bottomRight());
                QVERIFY(!k.editor->isHidden() && k.focusWidget() == k.editor);
                QCOMPARE(k.editor->selectedText(), QString::number(k.value + k.displayOffset));
                QCOMPARE(k.editor->geometry(), text.adjusted(dx, dy, -dx, -dy));
                QTest::keyClick(k.editor, Qt::Key_Delete);
                QTest::keyClicks(k.editor, event.section(':', 1));
                QTest::keyClick(k.editor, Qt::Key_Return);
            } else if (verb == "double") {
                doubleClick(&k, at);
            } else if (verb == "enter") {
                QEnterEvent enter(centre, centre, k.mapToGlobal(centre));
                QCoreApplication::sendEvent(&k, &enter);
            } else if (verb == "leave") {
                QEvent leave(QEvent::Leave);
                QCoreApplication::sendEvent(&k, &leave);
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
        QCOMPARE(k.value, expected.isEmpty() ? start : expected.last());
        QVERIFY(k.editor->isHidden());
        QCOMPARE(QVariantList({ dial->currentValue(), dial->minimumValue(), dial->maximumValue(), dial->minimumStepSize() }),
                 QVariantList({ k.value, -10, 10, 1 }));
    }

    void arc_data()
    {
        // Minimum, maximum, value.
        QTest::addColumn<I>("range");
        QTest::addColumn<D>("arcAngles");
        QTest::addColumn<D>("restAngles");

        // The sweep starts at 225° and runs clockwise to -45°; the pen's round
        // ends reach about 4° beyond an arc's end in a 120-pixel knob.
        const D wholeTrack = { 225, 215, 135, 90, 0, -35, -45 };
        QTest::newRow("minimum") << I { -80, 6, -80 } << D() << wholeTrack;
        QTest::newRow("maximum") << I { -80, 6, 6 } << wholeTrack << D();
        QTest::newRow("a third") << I { 0, 90, 30 } << D { 225, 180, 142 } << D { 128, 90, 0, -45 };
        QTest::newRow("half") << I { 10, 280, 145 } << D { 225, 135, 97 } << D { 83, 0, -45 };
    }

    void arc()
    {
        QFETCH(I, range);
        QFETCH(D, arcAngles);
        QFETCH(D, restAngles);

        for (bool showTrack : { true, false }) {
            Knob k;
            k.resize(120, 120);
            std::tie(k.minValue, k.maxValue, k.value, k.showTrack) = std::tuple(range[0], range[1], range[2], showTrack);
            const QImage image = render(k);
            // Where the value arc does not reach: the track, or nothing at all;
            // the gap at the bottom stays empty.
            QList<QColor> seen, want(arcAngles.size(), k.arcColor);
            want << QList<QColor>(restAngles.size(), showTrack ? k.trackColor : QColor(Qt::transparent)) << QList<QColor>(3, Qt::transparent);
            for (double angle : arcAngles + restAngles + D { -80, -90, -100 })
                seen << arcAt(image, k, angle);
            QCOMPARE(seen, want);
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

        Knob k;
        k.resize(size, size);
        std::tie(k.arcWidth, k.knobRatio, k.showTrack, k.displayOffset, k.value) = std::tuple(arcWidth, ratio, false, 9, k.minValue);
        const QImage withText = render(k);
        const QRect text = k.textRect;
        QCOMPARE(text, QFontMetrics(QFont(k.fontFamily, k.fontSize)).boundingRect(k.rect(), Qt::AlignCenter, "-71dB"));
        // Hidden, the text is not drawn, its rectangle is kept, and a
        // double-click on it resets rather than edits.
        k.showText = false;
        k.value = 0;
        const QImage image = render(k);
        QVERIFY(image.copy(text) != withText.copy(text));
        QCOMPARE(k.textRect, text);
        doubleClick(&k, text.center());
        QVERIFY(k.editor->isHidden());
        QCOMPARE(k.value, k.minValue);

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
        k.shadowColor = Qt::magenta;
        k.addShadow(false, 0.5);
        QVERIFY(!k.graphicsEffect());
        k.addShadow(true, 0.5);
        const auto* glow = qobject_cast<QGraphicsDropShadowEffect*>(k.graphicsEffect());
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
        // Mouse buttons and modifiers, the driver's setValue, an assistive tool's toggle.
        for (const char* input : { "L", "M", "L,ctrl", "setValue", "toggle" })
            QTest::newRow(input) << QString(input);
    }

    void button()
    {
        QFETCH(QString, input);

        Button b("48V");
        b.checkedTextColor = b.glowColor = "#ffb000";
        b.checkedBackgroundColor = "#101010";
        b.show();
        QVERIFY(QTest::qWaitForWindowActive(&b));
        QSignalSpy pressed(&b, &Button::pressed);
        QSignalSpy clicked(&b, &QAbstractButton::clicked);
        // Fresh: off, unlit, and no look of its own until a state is applied;
        // Space goes through the toolkit (clicked) and does not switch it.
        QTest::keyClick(&b, Qt::Key_Space);
        QVERIFY(!b.status && !b.shadowEffect->isEnabled() && b.styleSheet().isEmpty());
        QSignalSpy toolkitPressed(&b, &QAbstractButton::pressed);
        auto* tool = QAccessible::queryAccessibleInterface(&b);
        QCOMPARE(tool->role(), QAccessible::Button);
        QCOMPARE(tool->text(QAccessible::Name), QString("48V"));

        for (bool on : { true, false }) {
            if (input == "setValue")
                b.setValue(on);
            else if (input == "toggle")
                tool->actionInterface()->doAction(A::toggleAction());
            else
                QTest::mouseClick(&b, Qt::MouseButton(buttons(input.section(',', 0, 0)).toInt()), modifiers(input.section(',', 1)));
            QVERIFY(b.status == on && b.shadowEffect->isEnabled() == on && tool->state().checkable && tool->state().checked == on);
            QCOMPARE(b.shadowEffect->color(), QColor::fromString("#ffb000"));
            QVERIFY(b.styleSheet().contains(on ? "color: #ffb000;" : "color: #00ff7f;"));
            QCOMPARE(tool->text(QAccessible::Value), QString(on ? "on" : "off"));
        }
        QCOMPARE(QList<QList<QVariant>>(pressed), (QList<QList<QVariant>> { { true }, { false } }));
        // The toolkit's own press handling and checked state stay unused.
        QCOMPARE(toolkitPressed.count(), 0);
        QCOMPARE(clicked.count(), 1);
        QVERIFY(!b.isDown() && !b.isCheckable());

        // For assistive tools the toggle comes first, the widget's own actions
        // still work and switch nothing, and a disabled button cannot be switched.
        auto* actions = tool->actionInterface();
        QCOMPARE(actions->actionNames(), QStringList({ A::toggleAction(), A::setFocusAction() }));
        b.clearFocus();
        actions->doAction(A::setFocusAction());
        QTRY_VERIFY(b.hasFocus());
        b.setEnabled(false);
        QVERIFY(!actions->actionNames().contains(A::toggleAction()));
        actions->doAction(A::toggleAction());
        QCOMPARE(pressed.count(), 2);
        QVERIFY(!b.status);
    }
};

QTEST_MAIN(TestControls)
#include "tst_controls.moc"
