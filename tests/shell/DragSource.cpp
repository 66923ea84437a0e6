// A small window that drags the file named on its command line, as a file manager would: the
// end-to-end test presses the mouse on it and lets go over the viewer.
//   tr4_drag_source FILE
#include <QApplication>
#include <QDrag>
#include <QLabel>
#include <QMimeData>
#include <QMouseEvent>
#include <QUrl>

namespace {

class Source : public QLabel {
  public:
    explicit Source(const QString& path) : QLabel(path), path(path) {
        setWindowTitle(QStringLiteral("tr4 drag source"));
        setMinimumSize(200, 60);
    }

  protected:
    void mousePressEvent(QMouseEvent*) override {
        auto* drag = new QDrag(this);
        auto* data = new QMimeData;
        data->setUrls({QUrl::fromLocalFile(path)});
        drag->setMimeData(data);
        drag->exec(Qt::CopyAction);
    }

  private:
    QString path;
};

}  // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    if (argc != 2) return 2;
    Source source(QString::fromLocal8Bit(argv[1]));
    source.move(0, 0);
    source.show();
    return app.exec();
}
