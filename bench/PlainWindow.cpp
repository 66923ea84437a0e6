// The baseline of the viewer's start-up: a bare Qt window of the viewer's outer size, shown.
#include <QApplication>
#include <QWidget>

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QWidget window;
    window.setWindowTitle(QStringLiteral("PROTOTIPO"));
    window.resize(956, 640);
    window.show();
    return app.exec();
}
