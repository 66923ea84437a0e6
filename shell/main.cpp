// tr4viewer: the mesh viewer for Tomb Raider 4 levels.
#include <dlfcn.h>

#include <cstdio>
#include <cstring>
#include <exception>
#include <filesystem>
#include <system_error>
#include <thread>

#include <fontconfig/fontconfig.h>
#include <QApplication>
#include <QLibraryInfo>

#include "FrameReport.h"
#include "MainWindow.h"
#include "dxMain.h"

namespace {
// The graphics system lives for the whole run, from before the window to after the loop.
tr4::dxMain graphicsSystem;

// Loads every library in the folder and keeps it; one that cannot be loaded is left to whoever
// needs it later.
void LoadAhead(const std::filesystem::path& folder) {
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(folder, error)) {
        if (entry.path().extension() == ".so") dlopen(entry.path().c_str(), RTLD_NOW | RTLD_LOCAL);
    }
}
}  // namespace

int main(int argc, char** argv) {
    // Before anything opens a descriptor that could take the number it names.
    tr4::TakeFrameReportDescriptor();
    // Answered before any window system is touched, so it works without a display.
    if (argc == 2 && std::strcmp(argv[1], "--version") == 0) {
        std::puts("tr4viewer " TR4_VERSION);
        return 0;
    }
    // Reading the font configuration and its caches takes about as long as all the rest before
    // the window maps, and the window's first layout waits for it; so does the menu bar, whose
    // icon makes Qt load every image format plugin to learn the icon file's format. A second
    // thread does both while the application loads its display plugin and connects; the layout
    // then finds them done. (The font library and the dynamic loader are safe to use from
    // several threads; Qt later opens the same plugin files and gets the loaded ones.)
    const std::filesystem::path imagePlugins =
        QLibraryInfo::path(QLibraryInfo::PluginsPath).toStdString() + "/imageformats";
    const auto warmUp = [imagePlugins] {
        FcInit();
        LoadAhead(imagePlugins);
    };
    std::jthread fontConfiguration;
    try {
        fontConfiguration = std::jthread(warmUp);
    } catch (const std::system_error&) {
        warmUp();  // no thread to be had (a process or memory limit): done here, a little later
    }
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("tr4viewer"));
    if (fontConfiguration.joinable()) fontConfiguration.join();
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
