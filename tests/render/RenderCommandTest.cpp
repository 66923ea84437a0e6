// tr4tool render's own code in this process, on a device made to refuse what the driver might:
// the command must fail, say why and leave no picture, never write a white one and exit 0.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include <QImage>

#include "Commands.h"
#include "dxDevice8.h"

namespace {

namespace fs = std::filesystem;

struct Outcome {
    int status = -1;
    std::string error;  // what the command wrote to standard error
};

Outcome Render(const tr4tool::Args& args, int refusedUploads) {
    testing::internal::CaptureStderr();
    Outcome outcome;
    outcome.status = tr4tool::RenderInProcess(
        args, [refusedUploads](tr4::dxDevice8& device) { device.FailUploads(refusedUploads); });
    outcome.error = testing::internal::GetCapturedStderr();
    return outcome;
}

class RenderCommand : public ::testing::Test {
  protected:
    void SetUp() override {
        if (!std::getenv("DISPLAY") && !std::getenv("WAYLAND_DISPLAY"))
            GTEST_SKIP() << "tr4tool render needs a display";
        dir = fs::temp_directory_path() /
              ("tr4render-command-" + std::to_string(getpid()) + "-" +
               ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir);
        fs::create_directories(dir);
    }
    void TearDown() override {
        if (!dir.empty()) fs::remove_all(dir);
    }
    fs::path dir;
};

TEST_F(RenderCommand, AMeshTheDriverRefusesFailsTheCommandAndWritesNoPicture) {
    const std::string refused =
        "tr4tool: mesh 0 could not be uploaded: uploading a vertex buffer gave GL_OUT_OF_MEMORY\n";
    const fs::path out = dir / "mesh.png";
    const Outcome one = Render({TR4_SAMPLE_LEVEL, "0", "-o", out.string()}, 1);
    EXPECT_EQ(one.status, 3);
    EXPECT_NE(one.error.find(refused), std::string::npos) << one.error;
    EXPECT_FALSE(fs::exists(out));

    const fs::path all = dir / "all";
    const Outcome every = Render({TR4_SAMPLE_LEVEL, "--all", all.string()}, 1);
    EXPECT_EQ(every.status, 3);
    EXPECT_NE(every.error.find(refused), std::string::npos) << every.error;
    EXPECT_FALSE(fs::exists(all) && !fs::is_empty(all));
    // No temporary file was left behind either.
    EXPECT_TRUE(fs::is_empty(dir));

    // The same command on a device that refuses nothing draws the mesh.
    const Outcome drawn = Render({TR4_SAMPLE_LEVEL, "0", "-o", out.string()}, 0);
    ASSERT_EQ(drawn.status, 0) << drawn.error;
    const QImage image(QString::fromStdString(out.string()));
    ASSERT_FALSE(image.isNull());
    int covered = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            covered += (image.pixel(x, y) & 0xFFFFFF) != 0xFFFFFF;
    EXPECT_GT(covered, 100);
}

}  // namespace
