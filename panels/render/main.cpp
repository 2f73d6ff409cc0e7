// Renders one model's panel, attached to a running kestrum-sim, into a PNG,
// so the panels can be shown without running the program:
//   kestrum-render-panel KX2 kx2.png

#include "panels/kq.h"
#include "panels/kx1.h"
#include "panels/kx2.h"

#include <QApplication>
#include <QLabel>
#include <QTimer>
#include <QVBoxLayout>

#include <cstdio>
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

} // namespace

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    if (argc != 3) {
        std::fprintf(stderr, "usage: kestrum-render-panel KX1|KX2|KQ <output.png>\n");
        return 2;
    }
    const QString model = QString::fromLocal8Bit(argv[1]);
    const QString outputPath = QString::fromLocal8Bit(argv[2]);

    // The main window's background, which the panels are drawn on.
    QWidget window;
    window.setStyleSheet("background-color: #2c313c;");
    auto* layout = new QVBoxLayout(&window);
    std::unique_ptr<QWidget> panel = createPanel(model);
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
