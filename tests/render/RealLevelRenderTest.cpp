// The real level, written by tools nobody here wrote: every mesh builds, and its largest mesh
// drawn in the viewer's frame looks like a textured object.
#include <map>

#include "LevelScene.h"
#include "MeshView.h"
#include "RenderFixture.h"

using namespace tr4;

namespace rendertest {
namespace {

TEST(RealLevel, EveryMeshBuildsAndTheLargestIsDrawnTextured) {
    REQUIRE_GRAPHICS();
    auto device = MakeDevice(321, 385);
    ASSERT_TRUE(device);
    LevelScene scene;
    std::string why;
    ASSERT_TRUE(scene.Open(TR4_REAL_LEVEL, PageDepth::Bits32, device.get(), why)) << why;
    ASSERT_EQ(scene.Count(), 191);
    const trTextura& pages = *scene.Pages();
    ASSERT_EQ(pages.PageCount(), 15);
    for (int i = 0; i < pages.PageCount(); ++i) EXPECT_NE(pages.GetPage32(i), nullptr) << i;
    for (const std::string& w : scene.Warnings()) std::printf("warning: %s\n", w.c_str());

    int largest = -1, largestFaces = -1, withFaces = 0, faces = 0;
    for (int i = 0; i < scene.Count(); ++i) {
        ASSERT_NE(scene.RenderMesh(i), nullptr) << i;
        const int count = static_cast<int>(FacesOf(scene.RenderMesh(i)).size());
        faces += count;
        withFaces += count > 0;
        if (count > largestFaces) {
            largestFaces = count;
            largest = i;
        }
    }
    EXPECT_EQ(device->LiveVertexBufferCount(), scene.Count());
    // Every face of the level is built (its indices are all in range), and only mesh 72 has none.
    EXPECT_EQ(faces, 6635);
    EXPECT_EQ(withFaces, 190);
    EXPECT_TRUE(FacesOf(scene.RenderMesh(72)).empty());

    const tr4::MeshRecord* record = scene.Record(largest);
    // The frame turns the mesh about its own centre, at the target, and fits it in the panel.
    MeshView view;
    view.zoom = FitZoom(*record, ViewAspect(321, 385));
    ViewCamera camera{ViewerProjection(ViewAspect(321, 385))};
    ASSERT_TRUE(DrawMeshFrame(*device, camera, scene.RenderMesh(largest), record, view, why))
        << why;
    const QImage frame = device->ReadFrame();
    std::map<uint32_t, int> colours;
    int covered = 0;
    for (int y = 0; y < frame.height(); ++y) {
        for (int x = 0; x < frame.width(); ++x) {
            const uint32_t c = Rgb(frame, x, y);
            if (c == 0xFFFFFFu) continue;
            ++covered;
            ++colours[c];
        }
    }
    const int total = frame.width() * frame.height();
    std::printf("largest mesh %d: %d faces, %.1f%% of the panel, %zu colours\n", largest,
                largestFaces, 100.0 * covered / total, colours.size());
    EXPECT_GT(covered, total / 50);        // more than a speck
    EXPECT_LT(covered, total * 98 / 100);  // not a frame-filling smear
    EXPECT_GT(colours.size(), 50u);        // texels, not one flat colour
    int mostCommon = 0;
    for (const auto& [c, n] : colours) mostCommon = std::max(mostCommon, n);
    EXPECT_LT(mostCommon, covered / 2);
    EXPECT_LT(colours[0x808080u], covered / 4);  // mostly textured, not the plain grey
}

}  // namespace
}  // namespace rendertest
