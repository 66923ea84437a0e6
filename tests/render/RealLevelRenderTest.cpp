// The real level, written by tools nobody here wrote: every mesh builds, and its largest mesh
// drawn in the viewer's frame looks like a textured object.
#include <map>

#include "BuildRenderMeshes.h"
#include "LevelLoader.h"
#include "MeshView.h"
#include "RenderFixture.h"
#include "trTextura.h"

using namespace tr4;

namespace rendertest {
namespace {

TEST(RealLevel, EveryMeshBuildsAndTheLargestIsDrawnTextured) {
    REQUIRE_GRAPHICS();
    tr4::Level level;
    tr4::LoadReport report;
    ASSERT_EQ(tr4::LoadLevelFile(TR4_REAL_LEVEL, level, &report), 1);
    ASSERT_TRUE(report.Readable()) << report.error;
    std::unique_ptr<tr4::Lista_Mesh> list;
    ASSERT_EQ(tr4::DecodeMeshes(reinterpret_cast<const uint8_t*>(level.meshData.data()),
                                static_cast<uint32_t>(level.meshData.size() * 2), list),
              1);
    ASSERT_EQ(list->Count(), 191);

    auto device = MakeDevice(321, 385);
    ASSERT_TRUE(device);
    SetViewerProjection(*device, ViewAspect(321, 385));
    trTextura pages(level);
    ASSERT_EQ(pages.PageCount(), 15);
    ASSERT_EQ(pages.CreatePages32(device.get()), S_OK);
    for (int i = 0; i < pages.PageCount(); ++i) EXPECT_NE(pages.GetPage32(i), nullptr) << i;
    std::vector<std::string> warnings;
    ASSERT_EQ(BuildRenderMeshes(list.get(), device.get(), &pages, level, &warnings), S_OK);
    for (const std::string& w : warnings) std::printf("warning: %s\n", w.c_str());

    int largest = -1, largestFaces = -1, withFaces = 0, faces = 0;
    for (int i = 0; i < list->Count(); ++i) {
        dxBufferTextura* g = TexturedMeshAt(*list, i);
        ASSERT_NE(g, nullptr) << i;
        faces += g->GetFaceCount();
        if (g->GetFaceCount() > 0) {
            ++withFaces;
            EXPECT_NE(g->GetVertexBuffer(), nullptr) << i;
        }
        if (g->GetFaceCount() > largestFaces) {
            largestFaces = g->GetFaceCount();
            largest = i;
        }
    }
    EXPECT_EQ(device->LiveVertexBufferCount(), withFaces);
    // Every face of the level is built (its indices are all in range), and only mesh 72 has none.
    EXPECT_EQ(faces, 6635);
    EXPECT_EQ(withFaces, 190);

    tr4::MeshRecord* record = nullptr;
    ASSERT_EQ(list->GetRecord(largest, record), 1);
    AimAtMesh(*device, *record);
    // The frame turns the mesh about its own centre, at the target, and fits it in the panel.
    MeshView view;
    view.zoom = FitZoom(*record, ViewAspect(321, 385));
    ASSERT_EQ(DrawMeshFrame(*device, TexturedMeshAt(*list, largest), record, view), S_OK);
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
