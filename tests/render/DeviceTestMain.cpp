// The device tests need a QGuiApplication and an OpenGL 3.3 context (xvfb-run gives both).
// Without a display every device test skips with its reason instead of failing.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include <QGuiApplication>

#include "dxMain.h"

using namespace tr4;

namespace rendertest {
void SetSystem(dxMain* system);
}

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    const bool display = std::getenv("DISPLAY") || std::getenv("WAYLAND_DISPLAY");
    std::unique_ptr<QGuiApplication> app;
    static dxMain system;
    if (display) {
        app = std::make_unique<QGuiApplication>(argc, argv);
        if (std::string why; system.ProbeOpenGL(why)) {
            rendertest::SetSystem(&system);
            std::printf("OpenGL renderer: %s (%s)\n", system.RendererString().c_str(),
                        system.VersionString().c_str());
        }
    }
    return RUN_ALL_TESTS();
}
