// Renders one model's panel, attached to a running kestrum-sim, into a PNG,
// so the panels can be shown without running the program; or, without any
// device, the knobs and buttons in several states:
//   kestrum-render-panel KX2 kx2.png
//   kestrum-render-panel controls controls.png

#include "controls/Button.h"
#include "controls/Knob.h"
#include "panels/kq.h"
#include "panels/kx1.h"
#include "panels/kx2.h"

#include <QApplication>
#include <QLabel>
#include <QTimer>
#include <QVBoxLayout>

#include <cstdio>
#include <functional>
#include <memory>

namespace {

std::unique_ptr<QWidget> createPanel(const QString& model)
{
    if (model == "KX1")
        return std::make_unique<kx1>();
    if (model == "KX2")
        return std::make_unique<kx2>();
    if (model == "KQ")
        return std::make_unique<kq>();
    return nullptr;
}

// Knobs and buttons in several states on the panel background.
void addControlsGallery(QWidget* canvas)
{
    canvas->setFixedSize(4 * 130 + 10, 210);
    const auto addKnob = [&](int column, int size, const std::function<void(Knob&)>& configure) {
        auto* knob = new Knob(canvas);
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
        button->setParent(canvas);
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
}

} // namespace

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    if (argc != 3) {
        std::fprintf(stderr, "usage: kestrum-render-panel KX1|KX2|KQ|controls <output.png>\n");
        return 2;
    }
    const QString subject = QString::fromLocal8Bit(argv[1]);
    const QString outputPath = QString::fromLocal8Bit(argv[2]);

    // The main window's background, which the panels are drawn on.
    QWidget window;
    window.setStyleSheet("background-color: #2c313c;");
    if (subject == "controls") {
        addControlsGallery(&window);
        if (!window.grab().save(outputPath)) {
            std::fprintf(stderr, "cannot write %s\n", qPrintable(outputPath));
            return 1;
        }
        return 0;
    }
    auto* layout = new QVBoxLayout(&window);
    std::unique_ptr<QWidget> panel = createPanel(subject);
    if (!panel) {
        std::fprintf(stderr, "unknown model %s\n", argv[1]);
        return 2;
    }
    if (!panel->layout()) {
        std::fprintf(stderr, "the %s panel could not use the device: is kestrum-sim running as that model?\n", argv[1]);
        return 1;
    }
    layout->addWidget(panel.release());
    window.show();

    // Long enough for the first meter poll to fill the readouts.
    int result = 0;
    QTimer::singleShot(800, &app, [&] {
        if (!window.grab().save(outputPath)) {
            std::fprintf(stderr, "cannot write %s\n", qPrintable(outputPath));
            result = 1;
        }
        app.quit();
    });
    app.exec();
    return result;
}
