// tr4tool render, run as a separate process on the real and the bundled level.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include <QImage>

namespace {

namespace fs = std::filesystem;

int RunRender(const std::string& arguments) {
    const std::string command = std::string(TR4TOOL) + " render " + arguments + " 2>/dev/null";
    const int status = std::system(command.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

class RenderTool : public ::testing::Test {
  protected:
    void SetUp() override {
        if (!std::getenv("DISPLAY") && !std::getenv("WAYLAND_DISPLAY"))
            GTEST_SKIP() << "tr4tool render needs a display";
        dir = fs::temp_directory_path() /
              ("tr4render-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) +
               "-" + ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir);
        fs::create_directories(dir);
    }
    void TearDown() override {
        if (!dir.empty()) fs::remove_all(dir);
    }
    fs::path dir;
};

TEST_F(RenderTool, WritesTheViewersPictureOfOneMesh) {
    const fs::path out = dir / "mesh.png";
    ASSERT_EQ(RunRender(std::string(TR4_SAMPLE_LEVEL) + " 0 --zoom 1 -o " + out.string()), 0);
    QImage image(QString::fromStdString(out.string()));
    ASSERT_FALSE(image.isNull());
    EXPECT_EQ(image.size(), QSize(321, 385));
    EXPECT_EQ(image.pixel(0, 0) & 0xFFFFFF, 0xFFFFFFu);  // the white background
    int covered = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            covered += (image.pixel(x, y) & 0xFFFFFF) != 0xFFFFFF;
    EXPECT_GT(covered, 100);

    // Options change the picture; the size follows --size.
    const fs::path turned = dir / "turned.png";
    ASSERT_EQ(RunRender(std::string(TR4_SAMPLE_LEVEL) + " 0 -o " + turned.string() +
                        " --size 200x150 --yaw 0.7 --pitch 0.3 --zoom 3 --pan 1.5,-2"),
              0);
    EXPECT_EQ(QImage(QString::fromStdString(turned.string())).size(), QSize(200, 150));
}

TEST_F(RenderTool, AllWritesOnePicturePerMesh) {
    ASSERT_EQ(RunRender(std::string(TR4_REAL_LEVEL) + " --all " + (dir / "all").string()), 0);
    int pictures = 0;
    for (const auto& entry : fs::directory_iterator(dir / "all")) {
        EXPECT_EQ(entry.path().extension(), ".png");
        ++pictures;
    }
    EXPECT_GT(pictures, 0);
    EXPECT_TRUE(fs::exists(dir / "all" / "0.png"));
}

TEST_F(RenderTool, RefusesBadArgumentsAndUnreadableFiles) {
    EXPECT_EQ(RunRender(std::string(TR4_SAMPLE_LEVEL) + " 0"), 2);               // no -o
    EXPECT_EQ(RunRender(std::string(TR4_SAMPLE_LEVEL) + " 99999 -o x.png"), 2);  // no such mesh
    EXPECT_EQ(RunRender(std::string(TR4_SAMPLE_LEVEL) + " 0 -o x.png --size 0x5"), 2);
    EXPECT_EQ(RunRender(std::string(TR4_SAMPLE_LEVEL) + " 0 -o x.png --pan 1"), 2);
    const fs::path junk = dir / "junk.tr4";
    std::FILE* f = std::fopen(junk.string().c_str(), "wb");
    ASSERT_NE(f, nullptr);
    std::fputs("not a level", f);
    std::fclose(f);
    EXPECT_EQ(RunRender(junk.string() + " 0 -o " + (dir / "j.png").string()), 1);
}

}  // namespace

namespace {

TEST_F(RenderTool, WithoutOpenGL33ItSaysWhyAndExits3) {
    const std::string command = "MESA_GL_VERSION_OVERRIDE=3.0 " + std::string(TR4TOOL) +
                                " render " + TR4_SAMPLE_LEVEL + " 0 -o " +
                                (dir / "none.png").string() + " 2>&1";
    FILE* pipe = popen(command.c_str(), "r");
    ASSERT_TRUE(pipe);
    std::string said;
    char buffer[512];
    while (std::fgets(buffer, sizeof buffer, pipe)) said += buffer;
    const int status = pclose(pipe);
    EXPECT_EQ(WIFEXITED(status) ? WEXITSTATUS(status) : -1, 3) << said;
    EXPECT_NE(said.find("tr4tool: no OpenGL 3.3 context can be made: the display gives OpenGL "
                        "3.0, and 3.3 core is needed\n"),
              std::string::npos)
        << said;
    EXPECT_FALSE(fs::exists(dir / "none.png"));
}

}  // namespace
