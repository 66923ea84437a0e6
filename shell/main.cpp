// tr4viewer: the mesh viewer for Tomb Raider 4 levels.
#include <cstdio>
#include <cstring>
#include <exception>

#include <QApplication>

#include "MainWindow.h"
#include "dxMain.h"

namespace {
// The graphics system lives for the whole run, from before the window to after the loop.
tr4::dxMain graphicsSystem;
}  // namespace

int main(int argc, char** argv) {
    // Answered before any window system is touched, so it works without a display.
    if (argc == 2 && std::strcmp(argv[1], "--version") == 0) {
        std::puts("tr4viewer " TR4_VERSION);
        return 0;
    }
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("tr4viewer"));
    try {
        tr4::TForm1 Form1(graphicsSystem);
        Form1.show();
        // "tr4viewer FILE" opens FILE as File, Open Source would; when it cannot be read, the
        // window stays up and says why.
        if (argc > 1) Form1.OpenLevelFileLater(QString::fromLocal8Bit(argv[1]));
        app.exec();
    } catch (const std::exception& error) {
        tr4::ShowApplicationError(QString::fromLocal8Bit(error.what()));
    } catch (...) {
        tr4::ShowApplicationError(QString());
    }
    return 0;
}
