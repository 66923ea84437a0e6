#include "LoadLevel.h"

#include <new>
#include <stdexcept>

#include "LevelLoader.h"

namespace tr4 {
namespace {

// Everything after the container: the decode, inside the budget.
bool Finish(LoadedLevel& out, const LoadReport& report) {
    out.parseComplete = report.parseComplete;
    out.parseEnd = report.parseEnd;
    if (!report.Readable()) {
        out.error = report.error;
        return false;
    }
    out.warnings = report.warnings;
    std::vector<uint16_t>& words = out.level->meshData;
    const uint8_t* meshData = reinterpret_cast<const uint8_t*>(words.data());
    const uint32_t bytes = MeshDataBytes(*out.level);
    if (DecodeMeshes(meshData, bytes, out.meshes, &out.warnings, &out.budget, &out.error) < 0)
        return false;
    // The records hold every mesh now; the words they came from have no reader left.
    out.budget.Give(words.capacity() * 2);
    std::vector<uint16_t>().swap(words);
    return true;
}

template <class Load>
bool Guarded(LoadedLevel& out, Load load, PagesWatcher* watcher = nullptr) {
    out = LoadedLevel{};
    bool ok = false;
    try {
        out.level = std::make_unique<Level>();
        ok = load();
    } catch (const std::bad_alloc&) {
        out.error = "out of memory";
    } catch (const std::length_error&) {
        out.error = "out of memory";
    }
    if (!ok) {
        // Whatever was made is of no use; give it back now, once nothing reads its pages.
        if (watcher) watcher->Gone();
        std::string error = std::move(out.error);
        std::vector<std::string> warnings = std::move(out.warnings);
        out = LoadedLevel{};
        out.error = error.empty() ? std::string("not a readable level") : std::move(error);
        out.warnings = std::move(warnings);
    }
    return ok;
}

}  // namespace

bool LoadLevel(const std::string& path, LoadedLevel& out, unsigned keep, PagesWatcher* watcher) {
    return Guarded(
        out,
        [&] {
            LoadReport report;
            if (LoadLevelFile(path.c_str(), *out.level, &report, &out.budget, keep, watcher) == 0) {
                out.error = report.error;
                return false;
            }
            return Finish(out, report);
        },
        watcher);
}

bool LoadLevelImage(const uint8_t* data, size_t size, LoadedLevel& out, unsigned keep) {
    return Guarded(out, [&] {
        out.budget = MemoryBudget::ForFile(size);
        LoadReport report;
        LoadLevelFromMemory(data, size, *out.level, &report, &out.budget, keep);
        return Finish(out, report);
    });
}

}  // namespace tr4
