// The baseline of the viewer's start-up: a bare Qt window of the viewer's outer size that draws
// one OpenGL frame (cleared to white, on a 3.3 core context as the viewer's view asks for) and
// says so through the viewer's own report (FrameReport.h) once the frame has been swapped.
#include <QApplication>
#include <QOpenGLFunctions>
#include <QOpenGLWindow>
#include <QSurfaceFormat>

#include "FrameReport.h"

namespace {

class PlainWindow : public QOpenGLWindow {
  protected:
    void paintGL() override {
        QOpenGLFunctions* gl = context()->functions();
        gl->glClearColor(1, 1, 1, 1);
        gl->glClear(GL_COLOR_BUFFER_BIT);
    }
};

}  // namespace

int main(int argc, char** argv) {
    tr4::TakeFrameReportDescriptor();
    QApplication app(argc, argv);
    QSurfaceFormat format;
    format.setVersion(3, 3);
    format.setProfile(QSurfaceFormat::CoreProfile);
    PlainWindow window;
    window.setFormat(format);
    window.setTitle(QStringLiteral("PROTOTIPO"));
    window.resize(956, 640);
    QObject::connect(&window, &QOpenGLWindow::frameSwapped,
                     [] { tr4::ReportFramePresented(true); });
    window.show();
    return app.exec();
}
