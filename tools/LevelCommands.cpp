// tr4tool info and tr4tool meshes: what the reader and the decoder make of a level file.
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "Commands.h"
#include "Json.h"
#include "Loaded.h"
#include "MeshList.h"
#include "MeshOwners.h"

namespace tr4tool {

bool LoadAndDecode(const std::string& path, tr4::LoadedLevel& out, unsigned keep,
                   tr4::PagesWatcher* watcher) {
    const bool ok = tr4::LoadLevel(path, out, keep, watcher);
    PrintWarnings(path, out.warnings);
    if (!ok) std::fprintf(stderr, "tr4tool: %s: %s\n", path.c_str(), out.error.c_str());
    return ok;
}

namespace {

bool ParseFileAndJson(const Args& args, std::string& path, bool& json) {
    json = false;
    path.clear();
    for (const std::string& a : args) {
        if (a == "--json") {
            json = true;
        } else if (!a.empty() && a[0] == '-' && a != "-") {
            return false;
        } else if (path.empty()) {
            path = a;
        } else {
            return false;
        }
    }
    return !path.empty();
}

// FILE [--json] read and the level loaded, for info and meshes: -1 when the command goes on,
// else its exit status.
int OpenLevel(const Args& args, const char* usage, std::string& path, bool& json,
              tr4::LoadedLevel& l) {
    if (!ParseFileAndJson(args, path, json)) return UsageError(usage);
    // Both tell what was read and decoded; neither reads a raw block.
    return LoadAndDecode(path, l, tr4::kNoRawBlocks) ? -1 : 1;
}

// The most bytes meshes prints for these owners: each mesh's line with every number at its
// widest, and each owner at its widest.
uint64_t MeshesOutputBytes(const tr4::MeshOwners& owners, bool json) {
    uint64_t bytes = 8;
    for (const std::vector<tr4::MeshOwner>& used : owners.owners)
        bytes += (json ? 320 : 240) + used.size() * (json ? 64 : 40);
    return bytes;
}

int FaceCount(const tr4::Lista_Mesh* list) {
    int faces = 0;
    for (int i = 0; list && i < list->Count(); ++i) {
        tr4::MeshRecord* m = nullptr;
        list->GetRecord(i, m);
        faces += std::max<int>(0, m->rectangleCount) + std::max<int>(0, m->triangleCount);
    }
    return faces;
}

}  // namespace

int Info(const Args& args) {
    std::string path;
    bool json = false;
    tr4::LoadedLevel l;
    if (const int status = OpenLevel(args, "info takes FILE [--json]", path, json, l); status >= 0)
        return status;
    const tr4::Level& v = *l.level;

    // Every count of the header and the level data, under its field name, in declared order.
    const std::pair<const char*, unsigned long long> fields[] = {
        {"version", v.version},
        {"roomPageCount", v.roomPageCount},
        {"objectPageCount", v.objectPageCount},
        {"bumpPageCount", v.bumpPageCount},
        {"pages32Size", v.pages32Size},
        {"pages32PackedSize", v.pages32PackedSize},
        {"pages16Size", v.pages16Size},
        {"pages16PackedSize", v.pages16PackedSize},
        {"miscPagesSize", v.miscPagesSize},
        {"miscPagesPackedSize", v.miscPagesPackedSize},
        {"levelDataSize", v.levelDataSize},
        {"levelDataPackedSize", v.levelDataPackedSize},
        {"sampleCount", v.sampleCount},
        {"reservedWord", v.reservedWord},
        {"roomCount", v.roomCount},
        {"floorDataCount", v.floorDataCount},
        {"meshDataWordCount", v.meshDataWordCount},
        {"meshPointerCount", v.meshPointerCount},
        {"animationCount", v.animationCount},
        {"stateChangeCount", v.stateChangeCount},
        {"animDispatchCount", v.animDispatchCount},
        {"animCommandCount", v.animCommandCount},
        {"meshTreeCount", v.meshTreeCount},
        {"frameCount", v.frameCount},
        {"moveableCount", v.moveableCount},
        {"staticMeshCount", v.staticMeshCount},
        {"spriteTextureCount", v.spriteTextureCount},
        {"objectTextureCount", v.objectTextureCount},
        {"spriteSequenceCount", v.spriteSequenceCount},
        {"cameraCount", v.cameraCount},
        {"flybyCameraCount", v.flybyCameraCount},
        {"soundSourceCount", v.soundSourceCount},
        {"boxCount", v.boxCount},
        {"overlapCount", v.overlapCount},
        {"animatedTextureCount", v.animatedTextureCount},
        {"itemCount", v.itemCount},
        {"aiObjectCount", v.aiObjectCount},
        {"soundDetailCount", v.soundDetailCount},
        {"sampleIndexCount", v.sampleIndexCount},
        {"demoDataCount", v.demoDataCount},
        {"pageCount", v.pages32Size >> 18},
        {"meshCount", static_cast<unsigned long long>(l.meshes ? l.meshes->Count() : 0)},
        {"faceCount", static_cast<unsigned long long>(FaceCount(l.meshes.get()))},
    };

    // Every field at its widest, and the warnings, as JSON escapes can make them six times longer.
    uint64_t outputBytes = 4096 + path.size() * 6;
    for (const std::string& w : l.warnings) outputBytes += w.size() * 6 + 8;
    std::string refused;
    if (!l.budget.Take(outputBytes, "the description of the level", refused)) {
        std::fprintf(stderr, "tr4tool: %s: %s\n", path.c_str(), refused.c_str());
        return 1;
    }

    if (json) {
        std::printf("{");
        for (const auto& [name, value] : fields) std::printf("\"%s\": %llu, ", name, value);
        std::printf("\"parseComplete\": %s, \"parseEnd\": %u, \"warnings\": [",
                    l.parseComplete ? "true" : "false", l.parseEnd);
        for (size_t i = 0; i < l.warnings.size(); ++i)
            std::printf("%s%s", i ? ", " : "", JsonString(l.warnings[i]).c_str());
        std::printf("]}\n");
        return 0;
    }
    std::printf("file: %s\n", path.c_str());
    for (const auto& [name, value] : fields) {
        if (std::string_view(name) == "version")
            std::printf("%s: 0x%08llx\n", name, value);
        else
            std::printf("%s: %llu\n", name, value);
    }
    std::printf("parseComplete: %s (%u of %u bytes of level data)\n",
                l.parseComplete ? "yes" : "no", l.parseEnd, v.levelDataSize);
    std::printf("warnings: %zu\n", l.warnings.size());
    for (const std::string& w : l.warnings) std::printf("  %s\n", w.c_str());
    return 0;
}

int Meshes(const Args& args) {
    std::string path;
    bool json = false;
    tr4::LoadedLevel l;
    if (const int status = OpenLevel(args, "meshes takes FILE [--json]", path, json, l);
        status >= 0)
        return status;
    const int count = l.meshes ? l.meshes->Count() : 0;
    // The owner table and the listing are the file's to pay for, like everything made of it: a
    // level of a few kilobytes can name one mesh millions of times. Refused before a byte is
    // written.
    tr4::MeshOwners owners;
    std::string refused;
    if (!tr4::FindMeshOwners(*l.level, l.meshes.get(), l.budget, owners, refused) ||
        !l.budget.Take(MeshesOutputBytes(owners, json), "the listing of the meshes", refused)) {
        std::fprintf(stderr, "tr4tool: %s: %s\n", path.c_str(), refused.c_str());
        return 1;
    }
    if (json) std::printf("[");
    for (int i = 0; i < count; ++i) {
        tr4::MeshRecord* m = nullptr;
        l.meshes->GetRecord(i, m);
        if (json) {
            std::printf(
                "%s\n  {\"index\": %d, \"offset\": %u, \"centre\": [%d, %d, %d], "
                "\"vertexCount\": %d, \"normalCount\": %d, \"rectangleCount\": %d, "
                "\"triangleCount\": %d, \"owners\": [",
                i ? "," : "", i, m->offset, m->centreX, m->centreY, m->centreZ, m->vertexCount,
                m->normalCount, m->rectangleCount, m->triangleCount);
            const std::vector<tr4::MeshOwner>& used = owners.owners[static_cast<size_t>(i)];
            for (size_t k = 0; k < used.size(); ++k) {
                const tr4::MeshOwner& o = used[k];
                if (o.kind == tr4::MeshOwner::Kind::Moveable)
                    std::printf("%s{\"kind\": \"moveable\", \"id\": %u, \"part\": %u}",
                                k ? ", " : "", o.id, o.part);
                else
                    std::printf("%s{\"kind\": \"static\", \"id\": %u}", k ? ", " : "", o.id);
            }
            std::printf("]}");
        } else {
            std::printf(
                "%d offset=%u centre=(%d, %d, %d) vertices=%d normals=%d rectangles=%d "
                "triangles=%d owners: %s\n",
                i, m->offset, m->centreX, m->centreY, m->centreZ, m->vertexCount, m->normalCount,
                m->rectangleCount, m->triangleCount,
                tr4::DescribeOwners(owners.owners[static_cast<size_t>(i)]).c_str());
        }
    }
    if (json) std::printf("%s]\n", count ? "\n" : "");
    return 0;
}

}  // namespace tr4tool
