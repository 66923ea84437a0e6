// tr4tool render, run as a separate process on the real and the bundled level.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include <QImage>

namespace {

namespace fs = std::filesystem;

int RunRender(const std::string& arguments) {
    const std::string command = std::string(TR4TOOL) + " render " + arguments + " 2>/dev/null";
    const int status = std::system(command.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// The command's standard error and exit status.
std::pair<int, std::string> RunRenderError(const std::string& arguments) {
    const std::string command = std::string(TR4TOOL) + " render " + arguments + " 2>&1 >/dev/null";
    FILE* pipe = popen(command.c_str(), "r");
    std::string out;
    char buffer[4096];
    size_t n;
    while (pipe && (n = fread(buffer, 1, sizeof buffer, pipe)) > 0) out.append(buffer, n);
    const int status = pipe ? pclose(pipe) : -1;
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, out};
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

int DrawnPixels(const QImage& image) {
    int covered = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            covered += (image.pixel(x, y) & 0xFFFFFF) != 0xFFFFFF;
    return covered;
}

TEST_F(RenderTool, AllShowsEveryMeshOfTheRealLevelButTheFacelessOnes) {
    ASSERT_EQ(RunRender(std::string(TR4_REAL_LEVEL) + " --all " + (dir / "all").string()), 0);
    int pictures = 0;
    for (const auto& entry : fs::directory_iterator(dir / "all")) {
        EXPECT_EQ(entry.path().extension(), ".png");
        ++pictures;
    }
    ASSERT_EQ(pictures, 191);
    std::vector<int> blank;
    for (int i = 0; i < pictures; ++i) {
        char name[16];
        std::snprintf(name, sizeof name, "%03d.png", i);  // zero-padded, so they sort
        const QImage image(QString::fromStdString((dir / "all" / name).string()));
        ASSERT_FALSE(image.isNull()) << name;
        // Under 0.2% of the picture drawn: the mesh shows almost nothing.
        if (DrawnPixels(image) * 500 < image.width() * image.height()) blank.push_back(i);
    }
    // The meshes that show almost nothing in the start view, and why. Each group's first mesh is
    // drawn again from where its faces do show.
    struct Blank {
        int index;
        const char* why;
        const char* viewWhereItShows;  // empty: nothing shows from anywhere
    };
    const Blank expected[] = {
        {36, "moveable 30 parts 0-4: flat, lying edge-on to the eye", "--pitch 1.2"},
        {37, "moveable 30, part 1: as 36", ""},
        {38, "moveable 30, part 2: as 36", ""},
        {39, "moveable 30, part 3: as 36", ""},
        {40, "moveable 30, part 4: as 36", ""},
        {72, "moveable 431, part 0: four vertices and no face", ""},
        {77, "moveable 433, part 0: every face turned away from the eye", "--yaw 3.1416"},
        {89, "moveable 437, part 0: a single triangle seen edge-on", "--pitch 1.2"},
        {105, "moveable 443 parts 10-13: small flat pieces, nearly edge-on", "--pitch 1.2"},
        {106, "moveable 443, part 11: as 105", ""},
        {107, "moveable 443, part 12: as 105", ""},
        {108, "moveable 443, part 13: as 105", ""},
        {133, "moveable 451, part 0: a single triangle seen edge-on, as 89", ""},
    };
    std::vector<int> expectedIndices;
    for (const Blank& b : expected) expectedIndices.push_back(b.index);
    EXPECT_EQ(blank, expectedIndices);
    EXPECT_LE(blank.size(), 15u);
    for (const Blank& b : expected) {
        if (!*b.viewWhereItShows) continue;
        const fs::path turned = dir / ("turned" + std::to_string(b.index) + ".png");
        ASSERT_EQ(RunRender(std::string(TR4_REAL_LEVEL) + " " + std::to_string(b.index) + " -o " +
                            turned.string() + " " + b.viewWhereItShows),
                  0);
        const QImage image(QString::fromStdString(turned.string()));
        EXPECT_GT(DrawnPixels(image) * 500, image.width() * image.height()) << b.why;
    }
}

// The box around the drawn pixels.
QRect DrawnBox(const QImage& image) {
    QRect box;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            if ((image.pixel(x, y) & 0xFFFFFF) != 0xFFFFFF) box |= QRect(x, y, 1, 1);
    return box;
}

TEST_F(RenderTool, TheStartViewCentresTheMeshAndKeepsItsProportions) {
    // Mesh 2 of the sample lies about its centre (300, -50, 200), far from its origin; the
    // picture shows it in the middle, whole.
    const fs::path far = dir / "far.png";
    ASSERT_EQ(RunRender(std::string(TR4_SAMPLE_LEVEL) + " 2 -o " + far.string()), 0);
    const QImage farImage(QString::fromStdString(far.string()));
    const QRect farBox = DrawnBox(farImage);
    ASSERT_FALSE(farBox.isEmpty());
    EXPECT_NEAR(farBox.center().x(), farImage.width() / 2.0, 2.0);
    EXPECT_NEAR(farBox.center().y(), farImage.height() / 2.0, 2.0);
    EXPECT_TRUE(farBox.left() > 0 && farBox.top() > 0 && farBox.right() < farImage.width() - 1 &&
                farBox.bottom() < farImage.height() - 1)
        << "cut off by the picture's edge";

    // Mesh 0 is a cube about its centre: seen straight on, its front face is a square, drawn
    // square in a panel taller than wide, and in a wide picture too.
    for (const char* size : {"321x385", "500x200"}) {
        const fs::path cube = dir / (std::string("cube") + size + ".png");
        ASSERT_EQ(
            RunRender(std::string(TR4_SAMPLE_LEVEL) + " 0 --size " + size + " -o " + cube.string()),
            0);
        const QImage image(QString::fromStdString(cube.string()));
        const QRect box = DrawnBox(image);
        ASSERT_GT(box.width(), 20) << size;
        EXPECT_NEAR(box.width(), box.height(), 1.0) << size;
        EXPECT_NEAR(box.center().x(), image.width() / 2.0, 1.5) << size;
        EXPECT_NEAR(box.center().y(), image.height() / 2.0, 1.5) << size;
    }
}

// The drawn pixels of a picture, as a mask.
std::vector<bool> DrawnMask(const QImage& image) {
    std::vector<bool> mask(size_t(image.width()) * size_t(image.height()));
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            mask[size_t(y) * size_t(image.width()) + size_t(x)] =
                (image.pixel(x, y) & 0xFFFFFF) != 0xFFFFFF;
    return mask;
}

// Pixels drawn in one of a and the left-right mirror of b but not in both.
int MirrorMismatch(const QImage& a, const QImage& b) {
    const std::vector<bool> ma = DrawnMask(a), mb = DrawnMask(b);
    const int w = a.width();
    int differ = 0;
    for (int y = 0; y < a.height(); ++y)
        for (int x = 0; x < w; ++x)
            differ += ma[size_t(y * w + x)] != mb[size_t(y * w + (w - 1 - x))];
    return differ;
}

// Each view option moves the picture as it says, measured on the sample's cube (mesh 0: half-size
// 40 level units about the origin, 4 view units at zoom 1), seen from the eye 150 away with a
// vertical field of pi/4 in the default 321 x 385 picture.
TEST_F(RenderTool, EachViewOptionMovesThePictureAsItSays) {
    const auto render = [&](const std::string& name, const std::string& options) {
        const fs::path out = dir / (name + ".png");
        EXPECT_EQ(
            RunRender(std::string(TR4_SAMPLE_LEVEL) + " 0 -o " + out.string() + " " + options), 0)
            << options;
        return QImage(QString::fromStdString(out.string()));
    };
    // Pixels per view unit at distance d: half the picture's height over tan(pi/8), over d.
    const double focal = 385 / 2.0 / std::tan(3.14159265 / 8);
    const QImage base = render("base", "--zoom 2");
    const QRect baseBox = DrawnBox(base);
    ASSERT_GT(baseBox.width(), 20);

    // --zoom scales the cube about its centre: twice the zoom, twice the extent, and a few percent
    // more as the nearer front face grows towards the eye (from 8 to 16 of the 150).
    const QRect zoomed = DrawnBox(render("zoom", "--zoom 4"));
    for (const double ratio :
         {zoomed.width() / double(baseBox.width()), zoomed.height() / double(baseBox.height())}) {
        EXPECT_GT(ratio, 1.95);
        EXPECT_LT(ratio, 2.25);
    }
    EXPECT_NEAR(zoomed.center().x(), baseBox.center().x(), 1.0) << "about the centre";
    EXPECT_NEAR(zoomed.center().y(), baseBox.center().y(), 1.0);

    // --pan moves the mesh after it is scaled, in view units at the front face's depth (150 - 8
    // from the eye). The eye looks down -z in a left-handed frame, so +x runs to the picture's
    // left, and +y up it.
    const QRect panned = DrawnBox(render("pan", "--zoom 2 --pan 10,-5"));
    const double perUnit = focal / (150 - 8);
    EXPECT_NEAR(panned.center().x() - baseBox.center().x(), -10 * perUnit, 1.5);
    EXPECT_NEAR(panned.center().y() - baseBox.center().y(), 5 * perUnit, 1.5);
    // Off the axis a side face shows too, a few pixels at most; the cube is not scaled.
    EXPECT_NEAR(panned.width(), baseBox.width(), 4.0);
    EXPECT_NEAR(panned.height(), baseBox.height(), 4.0);

    // --yaw turns about the vertical axis through the centre, after --pitch: the cube is its own
    // mirror image left to right, so turning one way draws the mirror of turning the other way.
    const QImage left = render("left", "--zoom 2 --pitch 0.5 --yaw 0.6");
    const QImage right = render("right", "--zoom 2 --pitch 0.5 --yaw -0.6");
    const int covered = DrawnPixels(left);
    ASSERT_GT(covered, 1000);
    EXPECT_LT(MirrorMismatch(left, right), covered / 100) << "the two turns are mirror images";
    EXPECT_GT(MirrorMismatch(left, left), covered / 20) << "a turned cube is not symmetric itself";
    const QRect leftBox = DrawnBox(left);
    EXPECT_GT(leftBox.width(), baseBox.width() + 10) << "a turned cube shows two sides";
    EXPECT_GT(leftBox.height(), baseBox.height() + 10) << "a pitched cube shows its top or bottom";
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

TEST_F(RenderTool, NeverHarmsTheLevelNorLeavesHalfAPicture) {
    // The level itself, under a picture's name, spelled two ways.
    const fs::path level = dir / "level.png";
    fs::copy_file(TR4_SAMPLE_LEVEL, level);
    const auto size = fs::file_size(level);
    for (const fs::path& out : {level, dir / "." / "level.png"}) {
        const auto [status, why] = RunRenderError(level.string() + " 0 -o " + out.string());
        EXPECT_EQ(status, 2) << why;
        EXPECT_NE(why.find("is the level being read"), std::string::npos) << why;
        EXPECT_EQ(fs::file_size(level), size);
    }
    // Pictures larger than the file size limit: the reason, and no file cut short or left over.
    const fs::path all = dir / "all";
    const std::string limited = "bash -c \"trap '' XFSZ; ulimit -f 4; exec " +
                                std::string(TR4TOOL) + " render " + TR4_REAL_LEVEL + " --all " +
                                all.string() + "\"";
    const int raw = std::system((limited + " 2>/dev/null").c_str());
    EXPECT_EQ(WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, 3);
    for (const auto& e : fs::directory_iterator(all)) {
        EXPECT_NE(e.path().filename().string()[0], '.') << e.path() << " left behind";
        EXPECT_FALSE(QImage(QString::fromStdString(e.path().string())).isNull()) << e.path();
    }
}

TEST_F(RenderTool, RefusesBadArgumentsAndUnreadableFiles) {
    EXPECT_EQ(RunRender(std::string(TR4_SAMPLE_LEVEL) + " 0"), 2);  // no -o
    // No such mesh: one line that says which range there is.
    const auto [status, said] = RunRenderError(std::string(TR4_SAMPLE_LEVEL) + " 4 -o x.png");
    EXPECT_EQ(status, 2);
    EXPECT_EQ(said, "tr4tool: INDEX 4 is out of range: " + std::string(TR4_SAMPLE_LEVEL) +
                        " has 4 meshes (0 to 3)\n");
    // Numbers that are not finite would draw nothing, or garbage.
    for (const char* bad : {"--zoom nan", "--zoom inf", "--yaw -inf", "--pitch nan", "--pan 1,nan",
                            "--pan inf,0", "--zoom 1e40"}) {
        const auto [refused, why] = RunRenderError(std::string(TR4_SAMPLE_LEVEL) + " 0 -o " +
                                                   (dir / "n.png").string() + " " + bad);
        EXPECT_EQ(refused, 2) << bad;
        EXPECT_TRUE(why.find("finite") != std::string::npos) << bad << ": " << why;
        EXPECT_FALSE(fs::exists(dir / "n.png")) << bad;
    }
    // Two outputs for one picture: neither is the one meant, and neither is written.
    const auto [twice, whyTwice] =
        RunRenderError(std::string(TR4_SAMPLE_LEVEL) + " 0 -o " + (dir / "a.png").string() +
                       " -o " + (dir / "b.png").string());
    EXPECT_EQ(twice, 2);
    EXPECT_NE(whyTwice.find("-o is given more than once"), std::string::npos) << whyTwice;
    EXPECT_FALSE(fs::exists(dir / "a.png") || fs::exists(dir / "b.png"));
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

TEST(RenderToolWithoutADisplay, ADisplayThatCannotBeUsedIsExit3WithItsReason) {
    // No X server behind DISPLAY, and a platform whose compositor (or plugin) is missing: Qt
    // would abort (134); the tool says why and gives the status of a render without a display.
    const std::string out = (fs::temp_directory_path() / "tr4-no-display.png").string();
    for (const char* environment :
         {"env -u WAYLAND_DISPLAY DISPLAY=:9917 QT_QPA_PLATFORM=xcb",
          "env -u DISPLAY QT_QPA_PLATFORM=wayland WAYLAND_DISPLAY=tr4-no-compositor"}) {
        const std::string command = std::string(environment) + " " + TR4TOOL + " render " +
                                    TR4_SAMPLE_LEVEL + " 0 -o " + out + " 2>&1";
        FILE* pipe = popen(command.c_str(), "r");
        ASSERT_TRUE(pipe);
        std::string said;
        char buffer[512];
        while (std::fgets(buffer, sizeof buffer, pipe)) said += buffer;
        const int status = pclose(pipe);
        EXPECT_EQ(WIFEXITED(status) ? WEXITSTATUS(status) : -1, 3) << environment << said;
        EXPECT_NE(said.find("tr4tool: render needs a display, and none can be used: "),
                  std::string::npos)
            << said;
        EXPECT_FALSE(fs::exists(out));
    }
}

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
