#include "LevelScene.h"

#include "BuildRenderMeshes.h"
#include "dxDevice8.h"
#include "dxMain.h"

namespace tr4 {

PageDepth DepthFor(const dxMain& graphics, const dxDevice8* device) {
    if (device == nullptr || !device->HasDevice()) return PageDepth::None;
    return graphics.IsTextureFormatSupported(D3DFMT_A8R8G8B8) ? PageDepth::Bits32
                                                              : PageDepth::Bits16;
}

LevelScene::~LevelScene() = default;

// Both page blocks stay until the depth is known: the device is often made after the load.
static constexpr unsigned kBothPageBlocks = tr4::kPages32Block | tr4::kPages16Block;

bool LevelScene::Load(const std::string& path, std::string& error) {
    if (tr4::LoadLevel(path, loaded, kBothPageBlocks)) return true;
    error = loaded.error;
    return false;
}

bool LevelScene::LoadImage(const uint8_t* data, size_t size, std::string& error) {
    if (tr4::LoadLevelImage(data, size, loaded, kBothPageBlocks)) return true;
    error = loaded.error;
    return false;
}

bool LevelScene::Reserve(PageDepth wanted, std::string& error) {
    depth = wanted;
    if (!loaded.level) return true;
    // The pages are made from one block only, and remade from it after a device reset; the
    // other has no reader from here on.
    const unsigned drawn = depth == PageDepth::Bits32   ? tr4::kPages32Block
                           : depth == PageDepth::Bits16 ? tr4::kPages16Block
                                                        : tr4::kNoRawBlocks;
    tr4::ReleaseRawBlocks(*loaded.level, drawn, loaded.budget);
    if (depth == PageDepth::None) return true;
    return loaded.budget.Take(TexturePageBytes(*loaded.level, depth == PageDepth::Bits32),
                              "the texture pages", error) &&
           loaded.budget.Take(RenderMeshBytes(loaded.meshes.get()), "the render meshes", error);
}

bool LevelScene::Build(dxDevice8& device, std::string& error) {
    if (depth == PageDepth::None || !loaded.level) return true;
    auto made = std::make_unique<trTextura>(*loaded.level);
    const bool pagesMade = depth == PageDepth::Bits32 ? made->CreatePages32(device, error)
                                                      : made->CreatePages16(device, error);
    if (!pagesMade) return false;
    std::vector<VertexBufferPtr> meshes;
    if (loaded.meshes && !BuildRenderMeshes(*loaded.meshes, *loaded.level, made.get(), device,
                                            meshes, loaded.warnings, error))
        return false;
    pages = std::move(made);
    renderMeshes = std::move(meshes);
    return true;
}

bool LevelScene::Open(const std::string& path, PageDepth wanted, dxDevice8* device,
                      std::string& error) {
    if (!Load(path, error) || !Reserve(wanted, error)) return false;
    return device == nullptr || Build(*device, error);
}

int LevelScene::Count() const {
    return loaded.meshes ? loaded.meshes->Count() : 0;
}

const tr4::MeshRecord* LevelScene::Record(int index) const {
    tr4::MeshRecord* record = nullptr;
    if (!loaded.meshes || !loaded.meshes->GetRecord(index, record)) return nullptr;
    return record;
}

const dxVertexBuffer* LevelScene::RenderMesh(int index) const {
    if (index < 0 || static_cast<size_t>(index) >= renderMeshes.size()) return nullptr;
    return renderMeshes[static_cast<size_t>(index)].get();
}

}  // namespace tr4
