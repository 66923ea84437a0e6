// Without a QGuiApplication there is no display to draw on: the graphics system must say so.
#include <gtest/gtest.h>

#include "dxDevice8.h"
#include "dxMain.h"

using namespace tr4;

namespace {

TEST(GraphicsSystem, FailsCleanlyWithoutAnApplication) {
    dxMain system;
    std::string why;
    EXPECT_FALSE(system.ProbeOpenGL(why));
    EXPECT_EQ(why, "no GUI application is running");
    EXPECT_FALSE(system.HasOpenGL());
    std::unique_ptr<dxDevice8> device;
    why.clear();
    EXPECT_FALSE(system.CreateRenderDevice(nullptr, device, why));
    EXPECT_EQ(why, "the graphics system was not created");
    EXPECT_EQ(device, nullptr);  // out untouched
    EXPECT_FALSE(system.IsTextureFormatSupported(21));
    EXPECT_FALSE(system.IsTextureFormatSupported(24));
}

}  // namespace
