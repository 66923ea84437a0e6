// Without a QGuiApplication there is no display to draw on: the graphics system must say so.
#include <gtest/gtest.h>

#include "dxDevice8.h"
#include "dxMain.h"

using namespace tr4;

namespace {

TEST(GraphicsSystem, FailsCleanlyWithoutAnApplication) {
    dxMain system;
    EXPECT_EQ(system.ProbeOpenGL(), E_FAIL);
    EXPECT_FALSE(system.HasOpenGL());
    std::unique_ptr<dxDevice8> device;
    EXPECT_EQ(system.CreateRenderDevice(nullptr, 1, device), E_FAIL);
    EXPECT_EQ(device, nullptr);  // out untouched
    const PresentParameters p = system.GetPresentParameters(1);
    EXPECT_EQ(p.Windowed, 0u);  // all 13 fields zero
    EXPECT_EQ(p.SwapEffect, 0u);
    EXPECT_EQ(p.AutoDepthStencilFormat, 0u);
    EXPECT_FALSE(system.IsTextureFormatSupported(21));
    EXPECT_FALSE(system.IsTextureFormatSupported(24));
}

}  // namespace
