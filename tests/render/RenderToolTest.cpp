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

TEST_F(RenderTool, AllWritesTheSamePicturesAsOneMeshAtATime) {
    // The pictures of --all are encoded on a thread of their own while the next mesh draws; each
    // must still hold its own mesh, pixel for pixel.
    ASSERT_EQ(RunRender(std::string(TR4_SAMPLE_LEVEL) + " --all " + (dir / "all").string()), 0);
    for (int i = 0; i < 4; ++i) {
        const fs::path single = dir / ("single" + std::to_string(i) + ".png");
        ASSERT_EQ(RunRender(std::string(TR4_SAMPLE_LEVEL) + " " + std::to_string(i) + " -o " +
                            single.string()),
                  0);
        const QImage a(QString::fromStdString(single.string()));
        QImage b;
        for (const auto& entry : fs::directory_iterator(dir / "all")) {
            const std::string stem = entry.path().stem().string();
            if (std::stoi(stem) == i) b = QImage(QString::fromStdString(entry.path().string()));
        }
        ASSERT_FALSE(a.isNull());
        ASSERT_FALSE(b.isNull()) << "no picture of mesh " << i;
        EXPECT_EQ(a.convertToFormat(QImage::Format_RGB32), b.convertToFormat(QImage::Format_RGB32))
            << "mesh " << i;
    }
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
