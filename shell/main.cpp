// tr4viewer: the mesh viewer for Tomb Raider 4 levels.
#include <exception>

#include <QApplication>

#include "MainWindow.h"
#include "dxMain.h"

namespace {
// The graphics system lives for the whole run, from before the window to after the loop.
dxMain graphicsSystem;
}  // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("tr4viewer"));
    try {
        TForm1 Form1(graphicsSystem);
        Form1.show();
        // "tr4viewer FILE" opens FILE as File, Open Source would; when it cannot be read, the
        // window stays up and says why.
        if (argc > 1) Form1.OpenLevelFileLater(QString::fromLocal8Bit(argv[1]));
        app.exec();
    } catch (const std::exception& error) {
        ShowApplicationError(QString::fromLocal8Bit(error.what()));
    } catch (...) {
        ShowApplicationError(QString());
    }
    return 0;
}
