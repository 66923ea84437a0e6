// Texture pages of a level and the render meshes built from its meshes, on a real device.
#include <cstring>

#include "BuildRenderMeshes.h"
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
    dxBufferTextura mesh;
    mesh.AddPolygon(ScreenQuad(texture, -1, -1, 1, 1));
    if (device.UploadMesh(&mesh) != S_OK) return 0xDEAD;
    device.SetClearColor(0, 0, 0);
    return Rgb(DrawFrame(device, mesh), 32, 32);
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
    ASSERT_EQ(wide.CreatePages32(device.get()), S_OK);
    EXPECT_TRUE(wide.Is32Bit());
    EXPECT_EQ(PageColour(*device, wide.GetPage32(0)), kRed);
    EXPECT_EQ(PageColour(*device, wide.GetPage32(2)), kBlue);
    EXPECT_EQ(wide.GetPage16(0), nullptr);  // the other kind was not built

    trTextura narrow(level);
    ASSERT_EQ(narrow.CreatePages16(device.get()), S_OK);
    EXPECT_FALSE(narrow.Is32Bit());
    EXPECT_EQ(PageColour(*device, narrow.GetPage16(1)), kGreen);
    EXPECT_EQ(PageColour(*device, narrow.GetPage16(2)), kBlue);
}

TEST_F(Pages, MissingAndOutOfRangePagesAreEmpty) {
    level.pages16.resize(trTextura::kPage16Bytes * 2 - 1);  // page 1 is cut short
    trTextura narrow(level);
    ASSERT_EQ(narrow.CreatePages16(device.get()), S_OK);
    EXPECT_NE(narrow.GetPage16(0), nullptr);
    EXPECT_EQ(narrow.GetPage16(1), nullptr);
    EXPECT_EQ(narrow.GetPage16(2), nullptr);
    EXPECT_EQ(narrow.GetPage16(3), nullptr);
    EXPECT_EQ(narrow.GetPage16(-1), nullptr);
    EXPECT_EQ(narrow.GetPage16(0x8000), nullptr);

    trTextura none(level);
    EXPECT_EQ(none.CreatePages32(nullptr), E_FAIL);
    EXPECT_EQ(none.GetPage32(0), nullptr);
}

TEST_F(Pages, AReplacedSetReleasesItsTextures) {
    EXPECT_EQ(device->LiveTextureCount(), 0);
    auto pages = std::make_unique<trTextura>(level);
    pages->CreatePages32(device.get());
    EXPECT_EQ(device->LiveTextureCount(), 3);
    pages->CreatePages32(device.get());  // built again: the old textures go
    EXPECT_EQ(device->LiveTextureCount(), 3);
    pages = std::make_unique<trTextura>(level);
    EXPECT_EQ(device->LiveTextureCount(), 0);
    pages->CreatePages16(device.get());
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
    ASSERT_EQ(pages->CreatePages32(device.get()), S_OK);
    EXPECT_EQ(device->PageStoreLayers(), 71);  // the pages and the grey layer, nothing spare
    for (int i : {0, 15, 16, 31, 63, 64, 69})
        EXPECT_EQ(PageColour(*device, pages->GetPage32(i)), 0x030201u * (i + 1)) << "page " << i;
    // A device made again after a loss holds the same.
    device->LoseContext();
    device->ResetDevice();
    ASSERT_FALSE(device->IsLost());
    EXPECT_EQ(device->PageStoreLayers(), 71);
    EXPECT_EQ(PageColour(*device, pages->GetPage32(69)), 0x030201u * 70);

    // The next level, a small one, is made beside the large one, which it then replaces; a mesh
    // drawn from its pages before the store is trimmed still shows them after, and the store goes
    // back to the size a device starts with.
    auto small = std::make_unique<trTextura>(level);
    ASSERT_EQ(small->CreatePages32(device.get()), S_OK);
    dxBufferTextura mesh;
    mesh.AddPolygon(ScreenQuad(small->GetPage32(2), -1, -1, 1, 1));
    ASSERT_EQ(device->UploadMesh(&mesh), S_OK);
    pages.reset();
    device->TrimPageStore();
    EXPECT_EQ(device->PageStoreLayers(), 64);
    device->SetClearColor(0, 0, 0);
    EXPECT_EQ(Rgb(DrawFrame(*device, mesh), 32, 32), kBlue);
    EXPECT_EQ(PageColour(*device, small->GetPage32(0)), kRed);
    EXPECT_EQ(PageColour(*device, small->GetPage32(1)), kGreen);

    // Two small levels in turn fit the store beside each other: it keeps its size.
    auto again = std::make_unique<trTextura>(level);
    ASSERT_EQ(again->CreatePages32(device.get()), S_OK);
    small.reset();
    device->TrimPageStore();
    EXPECT_EQ(device->PageStoreLayers(), 64);
    EXPECT_EQ(PageColour(*device, again->GetPage32(0)), kRed);
    EXPECT_EQ(PageColour(*device, again->GetPage32(2)), kBlue);
}

class Builder : public Pages {
  protected:
    void SetUp() override {
        Pages::SetUp();
        if (IsSkipped()) return;
        // Page 3 holds the quadrants; pages 0..2 are solid.
        const Bytes q = QuadrantPage32(kRed, kGreen, kBlue, kYellow);
        level.pages32.insert(level.pages32.end(), q.begin(), q.end());
        level.pages32Size = static_cast<uint32_t>(level.pages32.size());
        tr4::ObjectTexture t;
        const uint8_t px[4][2] = {{0, 0}, {255, 0}, {255, 255}, {0, 255}};
        for (int c = 0; c < 4; ++c) {
            t.corners[c].xPixel = px[c][0];
            t.corners[c].yPixel = px[c][1];
        }
        t.tile = 0x0003;
        level.objectTextures.push_back(t);  // 0: page 3
        t.tile = 0x8003;
        t.corners[1].xPixel = 128;
        level.objectTextures.push_back(t);  // 1: page 3 for triangles, none for rectangles
        pages = std::make_unique<trTextura>(level);
        ASSERT_EQ(pages->CreatePages32(device.get()), S_OK);
    }

    // A rectangle filling the frame: level (-10, -10) is the top-left corner at depth 0.5.
    std::unique_ptr<tr4::MeshRecord> FullFrameRecord(uint16_t texture) {
        auto r = std::make_unique<tr4::MeshRecord>();
        r->vertices = {{-10, -10, 5}, {10, -10, 5}, {10, 10, 5}, {-10, 10, 5}};
        r->vertexCount = 4;
        r->rectangles = {{{0, 1, 2, 3}, texture, 0}};
        r->rectangleCount = 1;
        return r;
    }

    std::unique_ptr<trTextura> pages;
};

TEST_F(Builder, ARectangleShowsItsPageAsTheObjectTextureMapsIt) {
    tr4::Lista_Mesh list;
    list.Add(FullFrameRecord(0));
    ASSERT_EQ(BuildRenderMeshes(&list, device.get(), pages.get(), level), S_OK);
    EXPECT_EQ(device->LiveVertexBufferCount(), 1);  // one mesh, uploaded once
    dxBufferTextura* g = TexturedMeshAt(list, 0);
    ASSERT_NE(g, nullptr);
    EXPECT_EQ(g->GetFaceTexture(0), pages->GetPage32(3));
    EXPECT_FALSE(g->IsDirty());
    const QImage frame = DrawFrame(*device, *g);
    EXPECT_EQ(Rgb(frame, 16, 16), kRed);
    EXPECT_EQ(Rgb(frame, 48, 16), kGreen);
    EXPECT_EQ(Rgb(frame, 16, 48), kBlue);
    EXPECT_EQ(Rgb(frame, 48, 48), kYellow);
}

TEST_F(Builder, TrianglesDropTheTopBitOfThePageWordRectanglesDoNot) {
    tr4::Lista_Mesh list;
    auto r = FullFrameRecord(1);  // tile 0x8003
    r->triangles = {{{0, 1, 3}, 1, 0}};
    r->triangleCount = 1;
    list.Add(std::move(r));
    ASSERT_EQ(BuildRenderMeshes(&list, device.get(), pages.get(), level), S_OK);
    dxBufferTextura* g = TexturedMeshAt(list, 0);
    ASSERT_NE(g, nullptr);
    EXPECT_EQ(g->GetFaceTexture(0), pages->GetPage32(3));  // the triangle
    EXPECT_EQ(g->GetFaceTexture(1), nullptr);              // the rectangle: page 0x8003
    // Corner pixels 0, 128 and 255 become 0, 128/255 and 1.
    const std::span<const dxVertexTex> v = g->TexVertexData();
    ASSERT_GE(v.size(), 3u);
    EXPECT_EQ(v[0].tu, 0.0f);
    EXPECT_NEAR(v[1].tu, 128.0f / 255.0f, 1e-7f);
    EXPECT_NEAR(v[1].tu, 0.50196f, 1e-5f);
    EXPECT_EQ(v[2].tv, 1.0f);
    // The face without a page stays visible against white, as plain grey.
    const QImage frame = DrawFrame(*device, *g);
    EXPECT_EQ(Rgb(frame, 60, 60), 0x808080u);
}

}  // namespace
}  // namespace rendertest
