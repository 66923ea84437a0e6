// Texture pages of a level and the render meshes built from its meshes, on a real device.
#include <cstring>

#include "BuildRenderMeshes.h"
#include "LevelScene.h"
#include "LevelWriter.h"
#include "MeshView.h"
#include "RenderFixture.h"
#include "trTextura.h"

using namespace tr4;

namespace rendertest {
namespace {

constexpr uint32_t kRed = 0xFF0000, kGreen = 0x00FF00, kBlue = 0x0000FF, kYellow = 0xFFFF00;

Bytes Solid32(uint32_t c) {
    return QuadrantPage32(c, c, c, c);
}

// Draws the page's texture over the whole frame and returns the colour in the middle.
uint32_t PageColour(dxDevice8& device, dxTexture* texture) {
    MeshGeometry quad;
    AddScreenQuad(quad, texture, -1, -1, 1, 1);
    const VertexBufferPtr mesh = Upload(device, std::move(quad));
    device.SetClearColor(0, 0, 0);
    return Rgb(DrawFrame(device, mesh.get()), 32, 32);
}

class Pages : public ::testing::Test {
  protected:
    void SetUp() override {
        if (System() == nullptr) GTEST_SKIP() << "no OpenGL display";
        device = MakeDevice();
        ASSERT_TRUE(device);
        for (uint32_t c : {kRed, kGreen, kBlue}) {
            const Bytes page = Solid32(c);
            level.pages32.insert(level.pages32.end(), page.begin(), page.end());
            const uint16_t w = c == kRed ? 0x7C00 : c == kGreen ? 0x03E0 : 0x001F;
            const Bytes narrow = QuadrantPage16(w, w, w, w);
            level.pages16.insert(level.pages16.end(), narrow.begin(), narrow.end());
        }
        level.pages32Size = static_cast<uint32_t>(level.pages32.size());
        level.pages16Size = static_cast<uint32_t>(level.pages16.size());
    }

    tr4::Level level;
    std::unique_ptr<dxDevice8> device;
    std::string why;
};

TEST_F(Pages, CountWholePagesOfTheThirtyTwoBitBlock) {
    EXPECT_EQ(trTextura(level).PageCount(), 3);
    level.pages32Size = 786433;  // a trailing partial page is ignored
    EXPECT_EQ(trTextura(level).PageCount(), 3);
    level.pages32Size = 1048575;
    EXPECT_EQ(trTextura(level).PageCount(), 3);
    level.pages32Size = 262143;
    EXPECT_EQ(trTextura(level).PageCount(), 0);
}

TEST_F(Pages, EachPageComesFromItsOwnBytes) {
    trTextura wide(level);
    ASSERT_TRUE(wide.CreatePages32(*device, why)) << why;
    EXPECT_TRUE(wide.Is32Bit());
    EXPECT_EQ(PageColour(*device, wide.GetPage32(0)), kRed);
    EXPECT_EQ(PageColour(*device, wide.GetPage32(2)), kBlue);
    EXPECT_EQ(wide.GetPage16(0), nullptr);  // the other kind was not built

    trTextura narrow(level);
    ASSERT_TRUE(narrow.CreatePages16(*device, why)) << why;
    EXPECT_FALSE(narrow.Is32Bit());
    EXPECT_EQ(PageColour(*device, narrow.GetPage16(1)), kGreen);
    EXPECT_EQ(PageColour(*device, narrow.GetPage16(2)), kBlue);
}

TEST_F(Pages, MissingAndOutOfRangePagesAreEmpty) {
    level.pages16.resize(trTextura::kPage16Bytes * 2 - 1);  // page 1 is cut short
    trTextura narrow(level);
    ASSERT_TRUE(narrow.CreatePages16(*device, why)) << why;
    EXPECT_NE(narrow.GetPage16(0), nullptr);
    EXPECT_EQ(narrow.GetPage16(1), nullptr);
    EXPECT_EQ(narrow.GetPage16(2), nullptr);
    EXPECT_EQ(narrow.GetPage16(3), nullptr);
    EXPECT_EQ(narrow.GetPage16(-1), nullptr);
    EXPECT_EQ(narrow.GetPage16(0x8000), nullptr);
}

TEST_F(Pages, AReplacedSetReleasesItsTextures) {
    EXPECT_EQ(device->LiveTextureCount(), 0);
    auto pages = std::make_unique<trTextura>(level);
    ASSERT_TRUE(pages->CreatePages32(*device, why));
    EXPECT_EQ(device->LiveTextureCount(), 3);
    ASSERT_TRUE(pages->CreatePages32(*device, why));  // built again: the old textures go
    EXPECT_EQ(device->LiveTextureCount(), 3);
    pages = std::make_unique<trTextura>(level);
    EXPECT_EQ(device->LiveTextureCount(), 0);
    ASSERT_TRUE(pages->CreatePages16(*device, why));
    device.reset();  // the set outlives the device
    pages.reset();
}

TEST_F(Pages, ALevelsPagesGoIntoAStoreMadeOnceForThemAll) {
    // A device starts with room for a level of up to 63 pages and the grey layer.
    EXPECT_EQ(device->PageStoreLayers(), 64);
    // 70 pages, more than that store and more than one that starts small and doubles would hold
    // without growing twice; each a colour of its own, so a page uploaded to the wrong layer shows.
    tr4::Level large = level;
    large.pages32.clear();
    for (uint32_t i = 0; i < 70; ++i) {
        const Bytes page = Solid32(0x030201u * (i + 1));
        large.pages32.insert(large.pages32.end(), page.begin(), page.end());
    }
    large.pages32Size = static_cast<uint32_t>(large.pages32.size());
    auto pages = std::make_unique<trTextura>(large);
    ASSERT_TRUE(pages->CreatePages32(*device, why)) << why;
    EXPECT_EQ(device->PageStoreLayers(), 71);  // the pages and the grey layer, nothing spare
    for (int i : {0, 15, 16, 31, 63, 64, 69})
        EXPECT_EQ(PageColour(*device, pages->GetPage32(i)), 0x030201u * (i + 1)) << "page " << i;
    // A device made again after a loss holds the same.
    device->LoseContext();
    ASSERT_TRUE(device->ResetDevice(why)) << why;
    ASSERT_FALSE(device->IsLost());
    EXPECT_EQ(device->PageStoreLayers(), 71);
    EXPECT_EQ(PageColour(*device, pages->GetPage32(69)), 0x030201u * 70);

    // The next level, a small one, is made beside the large one, which it then replaces; a mesh
    // drawn from its pages before the store is trimmed still shows them after, and the store goes
    // back to the size a device starts with.
    auto small = std::make_unique<trTextura>(level);
    ASSERT_TRUE(small->CreatePages32(*device, why)) << why;
    MeshGeometry quad;
    AddScreenQuad(quad, small->GetPage32(2), -1, -1, 1, 1);
    const VertexBufferPtr mesh = Upload(*device, std::move(quad));
    pages.reset();
    device->TrimPageStore();
    EXPECT_EQ(device->PageStoreLayers(), 64);
    device->SetClearColor(0, 0, 0);
    EXPECT_EQ(Rgb(DrawFrame(*device, mesh.get()), 32, 32), kBlue);
    EXPECT_EQ(PageColour(*device, small->GetPage32(0)), kRed);
    EXPECT_EQ(PageColour(*device, small->GetPage32(1)), kGreen);

    // Two small levels in turn fit the store beside each other: it keeps its size.
    auto again = std::make_unique<trTextura>(level);
    ASSERT_TRUE(again->CreatePages32(*device, why)) << why;
    small.reset();
    device->TrimPageStore();
    EXPECT_EQ(device->PageStoreLayers(), 64);
    EXPECT_EQ(PageColour(*device, again->GetPage32(0)), kRed);
    EXPECT_EQ(PageColour(*device, again->GetPage32(2)), kBlue);
}

TEST_F(Pages, AStoreLeftForLaterIsMadeWhenAskedForOrByTheFirstPages) {
    const auto makeLater = [this] {
        std::unique_ptr<dxDevice8> later;
        EXPECT_TRUE(System()->CreateRenderDevice(nullptr, later, why, QSize(64, 64), true)) << why;
        return later;
    };
    // Asked for: from the grey layer alone to the store a device otherwise starts with, which a
    // level's pages then go into as they would.
    std::unique_ptr<dxDevice8> asked = makeLater();
    ASSERT_TRUE(asked);
    EXPECT_EQ(asked->PageStoreLayers(), 1);
    asked->MakePageStore();
    EXPECT_EQ(asked->PageStoreLayers(), 64);
    auto pages = std::make_unique<trTextura>(level);
    ASSERT_TRUE(pages->CreatePages32(*asked, why)) << why;
    EXPECT_EQ(asked->PageStoreLayers(), 64);
    EXPECT_EQ(PageColour(*asked, pages->GetPage32(1)), kGreen);
    pages.reset();

    // Pages first: they make the store, and asking afterwards changes nothing of it.
    std::unique_ptr<dxDevice8> pagesFirst = makeLater();
    ASSERT_TRUE(pagesFirst);
    pages = std::make_unique<trTextura>(level);
    ASSERT_TRUE(pages->CreatePages32(*pagesFirst, why)) << why;
    EXPECT_EQ(pagesFirst->PageStoreLayers(), 64);
    pagesFirst->MakePageStore();
    EXPECT_EQ(pagesFirst->PageStoreLayers(), 64);
    EXPECT_EQ(PageColour(*pagesFirst, pages->GetPage32(2)), kBlue);
    EXPECT_EQ(PageColour(*pagesFirst, pages->GetPage32(0)), kRed);
}

// The one-rectangle level on a device, as a scene.
class Scene : public ::testing::Test {
  protected:
    void SetUp() override {
        if (System() == nullptr) GTEST_SKIP() << "no OpenGL display";
        device = MakeDevice();
        ASSERT_TRUE(device);
    }
    // The level held by a scene, reserved at 32 bits.
    std::unique_ptr<LevelScene> Adopted(OneRectangleLevel&& made) {
        auto scene = std::make_unique<LevelScene>();
        tr4::LoadedLevel loaded;
        loaded.level = std::make_unique<tr4::Level>(std::move(made.level));
        loaded.meshes = std::move(made.list);
        scene->Adopt(std::move(loaded));
        EXPECT_TRUE(scene->Reserve(PageDepth::Bits32, why)) << why;
        return scene;
    }
    QImage FrameOf(const LevelScene& scene, int index) {
        return DrawFrame(*device, scene.RenderMesh(index));
    }

    std::unique_ptr<dxDevice8> device;
    std::string why;
};

TEST_F(Scene, ARectangleShowsItsPageAsTheObjectTextureMapsIt) {
    auto scene = Adopted(OneRectangleLevel(10));  // the whole frame
    ASSERT_TRUE(scene->Build(*device, why)) << why;
    EXPECT_EQ(device->LiveVertexBufferCount(), 1);  // one mesh, uploaded once
    EXPECT_EQ(device->LiveTextureCount(), 1);
    ASSERT_NE(scene->RenderMesh(0), nullptr);
    EXPECT_EQ(scene->RenderMesh(1), nullptr);
    EXPECT_EQ(FacesOf(scene->RenderMesh(0))[0].texture, scene->Pages()->GetPage32(0));
    const QImage frame = FrameOf(*scene, 0);
    EXPECT_EQ(Rgb(frame, 16, 16), kRed);
    EXPECT_EQ(Rgb(frame, 48, 16), kGreen);
    EXPECT_EQ(Rgb(frame, 16, 48), kBlue);
    EXPECT_EQ(Rgb(frame, 48, 48), kYellow);
}

TEST_F(Scene, TrianglesDropTheTopBitOfThePageWordRectanglesDoNot) {
    OneRectangleLevel made(10);
    tr4::ObjectTexture t = made.level.objectTextures[0];
    t.tile = 0x8000;
    t.corners[1].xPixel = 128;
    made.level.objectTextures.push_back(t);  // 1: page 0 for triangles, none for rectangles
    tr4::MeshRecord* record = nullptr;
    ASSERT_EQ(made.list->GetRecord(0, record), 1);
    record->rectangles[0].texture = 1;
    record->triangles = {{{0, 1, 3}, 1, 0}};
    record->triangleCount = 1;
    auto scene = Adopted(std::move(made));
    ASSERT_TRUE(scene->Build(*device, why)) << why;
    ASSERT_EQ(scene->Warnings().size(), 1u);
    EXPECT_EQ(scene->Warnings()[0], "mesh 0: 1 face(s) have no texture page and are drawn plain");
    const std::span<const GpuFace> faces = FacesOf(scene->RenderMesh(0));
    ASSERT_EQ(faces.size(), 2u);
    EXPECT_EQ(faces[0].texture, scene->Pages()->GetPage32(0));  // the triangle
    EXPECT_EQ(faces[1].texture, nullptr);                       // the rectangle: page 0x8000
    // The rectangle, without a page, stays visible against white as plain grey; drawn after the
    // triangle at the same depth, it covers the triangle's half too.
    const QImage frame = FrameOf(*scene, 0);
    EXPECT_EQ(Rgb(frame, 4, 4), 0x808080u);
    EXPECT_EQ(Rgb(frame, 60, 60), 0x808080u);
}

TEST_F(Scene, AMeshTheDriverRefusesFailsTheBuildAndKeepsNothing) {
    auto scene = Adopted(OneRectangleLevel());
    device->FailUploads(1);
    EXPECT_FALSE(scene->Build(*device, why));
    EXPECT_EQ(why, "mesh 0 could not be uploaded: uploading a vertex buffer gave GL_OUT_OF_MEMORY");
    EXPECT_EQ(scene->Pages(), nullptr);
    EXPECT_EQ(scene->RenderMesh(0), nullptr);
    EXPECT_EQ(device->LiveTextureCount(), 0);
    EXPECT_EQ(device->LiveVertexBufferCount(), 0);
    // Nor does the frame of a mesh that is not there pass for a white picture.
    ViewCamera camera{ViewerProjection(1.0f)};
    MeshView view;
    view.rotationY = 3.14159265f;  // the eye looks along -z: turned, the rectangle faces it
    EXPECT_FALSE(DrawMeshFrame(*device, camera, scene->RenderMesh(0), scene->Record(0), view, why));
    EXPECT_EQ(why, "there is no mesh to draw");
    // Built again, it is all there.
    why.clear();
    ASSERT_TRUE(scene->Build(*device, why)) << why;
    EXPECT_TRUE(DrawMeshFrame(*device, camera, scene->RenderMesh(0), scene->Record(0), view, why))
        << why;
    EXPECT_GT(CountNonWhite(device->ReadFrame()), 0);
}

TEST_F(Scene, TheBudgetIsChargedForThePagesAtTheirDepthFirst) {
    // Four pages: 2 MiB at 32 bits, the kept copy and the driver's; half that at 16.
    for (const auto& [depth, pageBytes] :
         {std::pair{PageDepth::Bits32, 2u << 20}, std::pair{PageDepth::Bits16, 1u << 20}}) {
        OneRectangleLevel made;
        made.level.pages32.resize(4 * tr4::kPage32Bytes);
        made.level.pages32Size = static_cast<uint32_t>(made.level.pages32.size());
        made.level.pages16.resize(4 * trTextura::kPage16Bytes);
        const uint64_t blocks = made.level.pages32.size() + made.level.pages16.size();
        const uint64_t kept =
            depth == PageDepth::Bits32 ? made.level.pages32.size() : made.level.pages16.size();
        tr4::LoadedLevel loaded;
        loaded.level = std::make_unique<tr4::Level>(std::move(made.level));
        loaded.meshes = std::move(made.list);
        loaded.budget = tr4::MemoryBudget::ForFile(0);
        // Both blocks held as a load holds them, and what a 64 MiB budget has left once the
        // pages are paid for and the block of the other depth is given back: the meshes no
        // longer fit. Were that block not given back, the pages would not fit either.
        std::string refused;
        ASSERT_TRUE(loaded.budget.Take(blocks, "the page blocks", refused));
        ASSERT_TRUE(
            loaded.budget.Take(tr4::MemoryBudget::kBase - pageBytes - kept, "the rest", refused));
        LevelScene scene;
        scene.Adopt(std::move(loaded));
        EXPECT_FALSE(scene.Reserve(depth, refused));
        EXPECT_NE(refused.find("the render meshes"), std::string::npos) << refused;
    }
}

// A scene keeps the page block it draws from, for its pages and for a device reset, and releases
// the other when the depth is known, its bytes back to the budget; without a device it keeps
// neither.
TEST_F(Scene, KeepsOnlyThePageBlockItDrawsFrom) {
    const Bytes file = tr4test::BuildLevelFile(tr4test::DemoLevel());
    for (const PageDepth depth : {PageDepth::Bits32, PageDepth::Bits16, PageDepth::None}) {
        SCOPED_TRACE(static_cast<int>(depth));
        LevelScene scene;
        ASSERT_TRUE(scene.LoadImage(file.data(), file.size(), why)) << why;
        const tr4::Level& level = *scene.Level();
        ASSERT_FALSE(level.pages32.empty());
        ASSERT_FALSE(level.pages16.empty());
        const uint64_t loadedBytes = scene.Budget().Used();
        const uint64_t blocks = level.pages32.capacity() + level.pages16.capacity();

        ASSERT_TRUE(scene.Reserve(depth, why)) << why;
        EXPECT_EQ(level.pages32.capacity() == 0, depth != PageDepth::Bits32);
        EXPECT_EQ(level.pages16.capacity() == 0, depth != PageDepth::Bits16);
        const uint64_t released = blocks - level.pages32.capacity() - level.pages16.capacity();
        const uint64_t drawing = depth == PageDepth::None
                                     ? 0
                                     : TexturePageBytes(level, depth == PageDepth::Bits32) +
                                           RenderMeshBytes(scene.Meshes());
        EXPECT_EQ(scene.Budget().Used(), loadedBytes - released + drawing);
        if (depth == PageDepth::None) continue;

        ASSERT_TRUE(scene.Build(*device, why)) << why;
        ASSERT_EQ(scene.Pages()->PageCount(), 2);
        for (int page = 0; page < 2; ++page) {
            EXPECT_NE(depth == PageDepth::Bits32 ? scene.Pages()->GetPage32(page)
                                                 : scene.Pages()->GetPage16(page),
                      nullptr);
        }
    }
}

}  // namespace
}  // namespace rendertest
