// The round trip in pixels: every mesh of the real level exported to glTF, read back with
// tinygltf, drawn with the project's device under glTF's conventions, and held against
// `tr4tool render` of the same mesh and view.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include <QImage>

#include "ExportSupport.h"
#include "GltfDraw.h"
#include "MeshView.h"
#include "RenderFixture.h"

using namespace tr4;

namespace exporttest {
namespace {

namespace fs = std::filesystem;

// tr4tool render's default picture, the viewer's panel.
constexpr int kWidth = kViewPanelWidth, kHeight = kViewPanelHeight;
const float kAspect = ViewAspect(kWidth, kHeight);

bool Close(QRgb p, QRgb q) {
    return std::abs(qRed(p) - qRed(q)) <= 24 && std::abs(qGreen(p) - qGreen(q)) <= 24 &&
           std::abs(qBlue(p) - qBlue(q)) <= 24;
}

// Pixels that differ together with their whole 3 x 3 neighbourhood. Faces that meet or overlap
// along an edge may be drawn in another order (the file groups them by material), so an edge can
// settle the other way: lines one or two pixels wide, which is noise. A wrong texture, coordinate
// or winding changes areas.
int Differing(const QImage& ours, const QImage& theirs) {
    const int w = ours.width(), h = ours.height();
    std::vector<char> differs(static_cast<size_t>(w) * h);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            differs[y * w + x] = !Close(ours.pixel(x, y), theirs.pixel(x, y));
    int n = 0;
    for (int y = 1; y + 1 < h; ++y) {
        for (int x = 1; x + 1 < w; ++x) {
            bool all = true;
            for (int dy = -1; dy <= 1 && all; ++dy)
                for (int dx = -1; dx <= 1 && all; ++dx) all = differs[(y + dy) * w + x + dx];
            n += all;
        }
    }
    return n;
}

// tr4tool render --all names its pictures by index, zero-padded to three digits here.
std::string Padded(int index) {
    char name[32];
    std::snprintf(name, sizeof name, "%03d.png", index);
    return name;
}

TEST(RoundTrip, EveryMeshOfTheRealLevelDrawsAsTr4toolRenderDrawsIt) {
    REQUIRE_GRAPHICS();
    const RealLevel* real = Real();
    ASSERT_TRUE(real);
    const fs::path dir =
        fs::path(::testing::TempDir()) / ("roundtrip-render-" + std::to_string(getpid()));
    fs::remove_all(dir);
    const std::string command = std::string(TR4TOOL) + " render " + TR4_REAL_LEVEL + " --all " +
                                dir.string() + " 2>/dev/null";
    ASSERT_EQ(std::system(command.c_str()), 0) << command;

    // At 0.1 metres per unit the file's positions are the viewer's, bit for bit, but for the
    // half turn to glTF's axes, which the drawing undoes as a glTF viewer would.
    tr4export::ExportRequest request;
    request.scale = 0.1;
    tinygltf::Model model;
    ASSERT_TRUE(ExportAndRead(request, "roundtrip.glb", model));
    std::unique_ptr<dxDevice8> device = rendertest::MakeDevice(kWidth, kHeight);
    ASSERT_TRUE(device);
    ViewCamera camera{ViewerProjection(kAspect)};  // as tr4tool render draws
    const std::vector<TexturePtr> textures = TexturesOf(*device, model);

    const double origin[3] = {0, 0, 0};
    int drawn = 0, worst = 0;
    std::vector<int> empty;
    for (int i = 0; i < real->list->Count(); ++i) {
        SCOPED_TRACE("mesh " + std::to_string(i));
        tr4::MeshRecord* record = nullptr;
        ASSERT_EQ(real->list->GetRecord(i, record), 1);
        MeshGeometry geometry;
        AddMesh(model, i, origin, 1.0, textures, geometry);
        ReverseFaces(geometry);
        const VertexBufferPtr mesh = rendertest::Upload(*device, std::move(geometry));
        MeshView view;
        view.zoom = FitZoom(*record, kAspect);  // as tr4tool render fits each mesh
        std::string why;
        ASSERT_TRUE(DrawMeshFrame(*device, camera, mesh.get(), record, view, why)) << why;
        const QImage ours = device->ReadFrame().convertToFormat(QImage::Format_RGB32);
        const QImage theirs = QImage(QString::fromStdString((dir / Padded(i)).string()))
                                  .convertToFormat(QImage::Format_RGB32);
        ASSERT_EQ(theirs.size(), ours.size());
        const int covered = rendertest::CountNonWhite(theirs);
        drawn += covered > 0;
        if (covered == 0) empty.push_back(i);
        const int differing = Differing(ours, theirs);
        worst = std::max(worst, differing);
        EXPECT_LE(differing, 2) << "of " << covered << " drawn";
    }
    std::printf("%d meshes drawn; at most %d pixels differ beyond edge noise in one picture\n",
                drawn, worst);
    // Nothing at all shows of four meshes from the start view: 72 has no face, 77 turns every face
    // away from the eye, 89 and 133 are single triangles seen edge-on.
    EXPECT_EQ(empty, (std::vector<int>{72, 77, 89, 133}));
    EXPECT_EQ(drawn, 187);
    fs::remove_all(dir);
}

TEST(RoundTrip, AssembledLaraIsDrawnWhole) {
    REQUIRE_GRAPHICS();
    std::unique_ptr<dxDevice8> device = rendertest::MakeDevice(kWidth, kHeight);
    ASSERT_TRUE(device);
    ViewCamera camera{ViewerProjection(kAspect)};  // as tr4tool render draws
    // Lara's skin and the joints between its parts, both on her mesh tree.
    MeshGeometry geometry;
    std::vector<TexturePtr> textures;
    for (uint32_t id : {8u, 9u}) {
        tr4export::ExportRequest request;
        request.kind = tr4export::ExportRequest::Kind::Moveable;
        request.id = id;
        request.scale = 0.1;
        tinygltf::Model model;
        ASSERT_TRUE(ExportAndRead(request, "lara-" + std::to_string(id) + ".glb", model));
        std::vector<TexturePtr> own = TexturesOf(*device, model);
        AddScene(model, 1.0, own, geometry);
        for (TexturePtr& t : own) textures.push_back(std::move(t));
    }
    ReverseFaces(geometry);
    const VertexBufferPtr mesh = rendertest::Upload(*device, std::move(geometry));
    tr4::MeshRecord centre;  // the view aims at the hips
    MeshView view;
    view.zoom = 1.4f;
    view.panY = 5.0f;
    std::string why;
    ASSERT_TRUE(DrawMeshFrame(*device, camera, mesh.get(), &centre, view, why)) << why;
    const QImage frame = device->ReadFrame();
    // Head, arms and feet all on the picture: the figure spans most of its height, and both
    // sides of the middle.
    int top = kHeight, bottom = -1, left = kWidth, right = -1;
    for (int y = 0; y < frame.height(); ++y)
        for (int x = 0; x < frame.width(); ++x)
            if (rendertest::Rgb(frame, x, y) != 0xFFFFFF) {
                top = std::min(top, y);
                bottom = std::max(bottom, y);
                left = std::min(left, x);
                right = std::max(right, x);
            }
    EXPECT_GT(bottom - top, kHeight / 2);
    EXPECT_LT(left, kWidth / 2 - 20);
    EXPECT_GT(right, kWidth / 2 + 20);
    if (const char* out = std::getenv("TR4_LARA_PICTURE")) frame.save(out, "PNG");
}

// The whole level drawn back from its export, from above and in perspective, against pictures
// committed beside the README. TR4_UPDATE_PICTURES=1 writes them anew instead of comparing: run
//   TR4_UPDATE_PICTURES=1 xvfb-run -a ctest --test-dir build/test -R WholeLevel
// after a change meant to alter them, and look at them before committing.
TEST(RoundTrip, WholeLevelLooksAsItsPictures) {
    REQUIRE_GRAPHICS();
    tr4export::ExportRequest request;
    request.kind = tr4export::ExportRequest::Kind::Level;
    tinygltf::Model model;
    ASSERT_TRUE(ExportAndRead(request, "whole-level.glb", model));
    constexpr int kSide = 512;
    std::unique_ptr<dxDevice8> device = rendertest::MakeDevice(kSide, kSide);
    ASSERT_TRUE(device);
    ViewCamera camera{ViewerProjection(1.0f)};
    // File metres times 10 in the device: the level's middle (about 60 m, 4 m, 60 m) stays within
    // the 16 bits of a mesh record's centre, and the device's far plane holds the whole level.
    constexpr double kToView = 10;
    MeshGeometry geometry;
    const std::vector<TexturePtr> textures = TexturesOf(*device, model);
    AddScene(model, kToView, textures, geometry);
    ReverseFaces(geometry);
    const VertexBufferPtr mesh = rendertest::Upload(*device, std::move(geometry));
    // The view turns about the middle of the level's rooms.
    double lo[3] = {1e9, 1e9, 1e9}, hi[3] = {-1e9, -1e9, -1e9};
    for (const tinygltf::Node& n : model.nodes) {
        if (n.name.rfind("room ", 0) != 0 || n.name.find(' ', 5) != std::string::npos || n.mesh < 0)
            continue;
        for (const tinygltf::Primitive& p : model.meshes[n.mesh].primitives) {
            const tinygltf::Accessor& a = model.accessors[p.attributes.at("POSITION")];
            for (int c = 0; c < 3; ++c) {
                lo[c] = std::min(lo[c], a.minValues[c] + n.translation[c]);
                hi[c] = std::max(hi[c], a.maxValues[c] + n.translation[c]);
            }
        }
    }
    // The device draws file (x, y, z) at (-x, y, z) x 10; a record's centre c is drawn at
    // (cx, -cy, cz) x 0.1.
    tr4::MeshRecord centre;
    centre.centreX = static_cast<int16_t>(-(lo[0] + hi[0]) / 2 * kToView / 0.1);
    centre.centreY = static_cast<int16_t>(-(lo[1] + hi[1]) / 2 * kToView / 0.1);
    centre.centreZ = static_cast<int16_t>((lo[2] + hi[2]) / 2 * kToView / 0.1);
    struct Shot {
        const char* name;
        MeshView view;
    };
    MeshView top, perspective;
    top.zoom = 0.1f;
    perspective.zoom = 0.12f;
    top.rotationX = -1.5707963f;
    perspective.rotationX = -0.6f;
    perspective.rotationY = 0.7f;
    const fs::path folder = fs::path(TR4_SOURCE_DIR) / "docs";
    for (const Shot& shot : {Shot{"level-top.png", top}, Shot{"level-view.png", perspective}}) {
        SCOPED_TRACE(shot.name);
        std::string why;
        ASSERT_TRUE(DrawMeshFrame(*device, camera, mesh.get(), &centre, shot.view, why)) << why;
        const QImage frame = device->ReadFrame().convertToFormat(QImage::Format_RGB32);
        const QString path = QString::fromStdString((folder / shot.name).string());
        if (std::getenv("TR4_UPDATE_PICTURES")) {
            ASSERT_TRUE(frame.save(path, "PNG"));
            continue;
        }
        const QImage reference = QImage(path).convertToFormat(QImage::Format_RGB32);
        ASSERT_EQ(reference.size(), frame.size()) << "no picture at " << path.toStdString();
        // The level shows, and it is the picture's.
        EXPECT_GT(rendertest::CountNonWhite(frame), kSide * kSide / 50);
        const int differing = Differing(frame, reference);
        EXPECT_LE(differing, kSide * kSide / 200) << "pixels beyond edge noise";
    }
}

// The player running: three keyframes of her first animation (the run) side by side, drawn back
// from the file with her skin and joints, against the picture beside the README
// (TR4_UPDATE_PICTURES=1 writes it anew, as for the level's).
TEST(RoundTrip, ThePlayerRunsAsHerPicture) {
    REQUIRE_GRAPHICS();
    tr4export::ExportRequest request;
    request.kind = tr4export::ExportRequest::Kind::Moveable;
    request.id = 0;
    request.animations = true;
    request.scale = 0.1;  // the viewer's units
    tinygltf::Model model;
    ASSERT_TRUE(ExportAndRead(request, "player-run.glb", model));
    ASSERT_FALSE(model.animations.empty());
    const tinygltf::Animation& run = model.animations[0];
    EXPECT_EQ(run.name, "animation 0");
    const size_t keyframes = model.accessors[run.samplers[0].input].count;
    ASSERT_GE(keyframes, 9u);
    constexpr int kWidth = 600, kHeight = 300;
    std::unique_ptr<dxDevice8> device = rendertest::MakeDevice(kWidth, kHeight);
    ASSERT_TRUE(device);
    ViewCamera camera{ViewerProjection(ViewAspect(kWidth, kHeight))};
    const std::vector<TexturePtr> textures = TexturesOf(*device, model);
    MeshGeometry geometry;
    // Three strides apart, from her side: a yaw of a quarter turn, and 75 units between them.
    const size_t shown[3] = {0, keyframes / 3, 2 * keyframes / 3};
    for (int i = 0; i < 3; ++i) {
        tinygltf::Model posed = Posed(model, run.name, shown[i]);
        tinygltf::Node& object = posed.nodes[posed.scenes[0].nodes[0]];
        object.translation = {0, 0, (i - 1) * 75.0};
        AddScene(posed, 1.0, textures, geometry);
    }
    ReverseFaces(geometry);
    const VertexBufferPtr mesh = rendertest::Upload(*device, std::move(geometry));
    tr4::MeshRecord centre;
    centre.centreY = -450;  // her hips, 450 units above her feet
    MeshView view;
    view.zoom = 0.85f;
    view.rotationY = 1.5707963f;
    std::string why;
    ASSERT_TRUE(DrawMeshFrame(*device, camera, mesh.get(), &centre, view, why)) << why;
    const QImage frame = device->ReadFrame().convertToFormat(QImage::Format_RGB32);
    const QString path =
        QString::fromStdString((fs::path(TR4_SOURCE_DIR) / "docs" / "player-run.png").string());
    if (std::getenv("TR4_UPDATE_PICTURES")) {
        ASSERT_TRUE(frame.save(path, "PNG"));
    } else {
        const QImage reference = QImage(path).convertToFormat(QImage::Format_RGB32);
        ASSERT_EQ(reference.size(), frame.size()) << "no picture at " << path.toStdString();
        EXPECT_GT(rendertest::CountNonWhite(frame), kWidth * kHeight / 20);
        EXPECT_LE(Differing(frame, reference), kWidth * kHeight / 200);
    }
}

}  // namespace
}  // namespace exporttest
