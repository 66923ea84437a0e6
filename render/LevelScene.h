#pragma once
// LevelScene: a level ready to draw. The one way from a level file to pages and render meshes on
// the device, for the window, tr4tool render and the benchmarks alike:
//
//   Load     reads the level within its memory budget (LoadLevel);
//   Reserve  releases the page block not drawn at the depth it will be drawn with (both
//            without a device), then takes from the budget what drawing will cost: the texture
//            pages first, then the render meshes;
//   Build    makes the pages and the render meshes on the device.
//
// Each says whether it worked and, when not, why. A scene that failed a step is of no use and
// is dropped by its caller; the one shown is replaced only by a scene whose every step worked.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "LoadLevel.h"
#include "RenderTypes.h"
#include "trTextura.h"

namespace tr4 {

class dxDevice8;
class dxMain;

// How the pages of a level are drawn: not at all (no device: listed only), or at 32 or 16 bits.
enum class PageDepth { None, Bits32, Bits16 };

// 32 bits when the graphics system takes 32-bit textures, else 16; None without a usable device.
PageDepth DepthFor(const dxMain& graphics, const dxDevice8* device);

class LevelScene {
  public:
    LevelScene() = default;
    LevelScene(const LevelScene&) = delete;
    LevelScene& operator=(const LevelScene&) = delete;
    ~LevelScene();

    bool Load(const std::string& path, std::string& error);
    // The same over a file image in memory.
    bool LoadImage(const uint8_t* data, size_t size, std::string& error);
    // Or a level loaded already, perhaps changed since (the benchmarks widen its pages), its
    // budget holding the raw blocks it keeps, as LoadLevel leaves it.
    void Adopt(tr4::LoadedLevel&& level) { loaded = std::move(level); }
    bool Reserve(PageDepth depth, std::string& error);
    // At the depth reserved; nothing to make for None.
    bool Build(dxDevice8& device, std::string& error);
    // The three in turn, for callers with nothing to do between them.
    bool Open(const std::string& path, PageDepth depth, dxDevice8* device, std::string& error);

    // The decoded meshes, index i as in the list; none for an index out of range.
    int Count() const;
    const tr4::MeshRecord* Record(int index) const;
    // Mesh index on the device; none before Build, without a device or out of range.
    const dxVertexBuffer* RenderMesh(int index) const;

    const tr4::Level* Level() const { return loaded.level.get(); }
    const tr4::Lista_Mesh* Meshes() const { return loaded.meshes.get(); }
    // The texture pages; none before Build or without a device.
    const trTextura* Pages() const { return pages.get(); }
    PageDepth Depth() const { return depth; }
    // The level's budget: what is left of it is for the caller's own tables of this level.
    tr4::MemoryBudget& Budget() { return loaded.budget; }
    const tr4::MemoryBudget& Budget() const { return loaded.budget; }
    // What was read or built only in part, the load's first.
    const std::vector<std::string>& Warnings() const { return loaded.warnings; }

  private:
    // Declared first, so it goes last: the pages are made on the level's page bytes.
    tr4::LoadedLevel loaded;
    PageDepth depth = PageDepth::None;
    std::unique_ptr<trTextura> pages;
    std::vector<VertexBufferPtr> renderMeshes;
};

}  // namespace tr4
