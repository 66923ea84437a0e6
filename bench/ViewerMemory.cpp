// The viewer's memory after opening levels in turn: `viewer_memory FILE...` opens each FILE in the
// real window as File, Open Source would (the message box answered at once), lets the window
// settle, and prints its resident size in KiB (and, on stderr, what the level shown holds of its
// memory budget). process_bench compares a large level replaced by a small one against a fresh
// window that opened only the small one.
#include <unistd.h>

#include <cstdio>
#include <fstream>

#include <QApplication>
#include <QElapsedTimer>
#include <QTest>

#include "LevelScene.h"
#include "MainWindow.h"
#include "dxMain.h"

using namespace tr4;

namespace {
dxMain graphicsSystem;

long ResidentKilobytes() {
    std::ifstream statm("/proc/self/statm");
    long pages = 0, resident = 0;
    statm >> pages >> resident;
    return resident * (sysconf(_SC_PAGESIZE) / 1024);
}
}  // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    TForm1Dialogs dialogs;
    dialogs.messageBox = [](const QString&, const QString&) {};
    dialogs.showError = [](const QString& message) {
        std::fprintf(stderr, "viewer_memory: %s\n", qPrintable(message));
    };
    TForm1 form(graphicsSystem, dialogs);
    form.show();
    if (!QTest::qWaitForWindowExposed(&form)) return 1;
    QElapsedTimer waited;
    waited.start();
    while (!form.GraphicsStarted() && waited.elapsed() < 10000) QTest::qWait(10);
    for (int i = 1; i < argc; ++i) {
        form.OpenLevelFile(QString::fromLocal8Bit(argv[i]));
        QTest::qWait(50);  // a few frames
    }
    std::printf("%ld\n", ResidentKilobytes());
    if (const LevelScene* scene = form.Scene()) {
        std::fprintf(stderr,
                     "viewer_memory: the level shown holds %llu of its budget's %llu bytes\n",
                     static_cast<unsigned long long>(scene->Budget().Used()),
                     static_cast<unsigned long long>(scene->Budget().Limit()));
    }
    return 0;
}
