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
        app.exec();
    } catch (const std::exception& error) {
        ShowApplicationError(QString::fromLocal8Bit(error.what()));
    } catch (...) {
        ShowApplicationError(QString());
    }
    return 0;
}
