// tr4tool export and tr4tool pages: a level's meshes and objects as glTF 2.0, its texture pages
// as PNG files.
#include <malloc.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "Commands.h"
#include "GltfExport.h"
#include "GltfWriter.h"
#include "Loaded.h"
#include "MeshFaces.h"
#include "ObjectMeshes.h"
#include "PagePng.h"

namespace tr4tool {
namespace {

// The level was read, but the file could not be made or written.
constexpr int kCannotWrite = 3;

struct ExportOptions {
    std::string path;
    std::string output;
    std::string objectsDir;
    bool objectsAsJson = false;  // --objects --format gltf
    bool haveFormat = false;
    bool trimsLevel = false;  // --no-items or --no-lights
    tr4export::ExportRequest request;
    bool haveKind = false;
};

// Below this many metres per unit a unit step is no longer a normal float: distinct positions
// would merge, and a whole level collapse to a point.
constexpr double kSmallestScale = 1e-37;

std::string Parse(const Args& args, ExportOptions& o) {
    using Kind = tr4export::ExportRequest::Kind;
    std::vector<std::string> positional;
    auto kind = [&](Kind k) -> std::string {
        if (o.haveKind)
            return "choose one of INDEX..., --all, --moveable, --static, --objects, --level";
        o.haveKind = true;
        o.request.kind = k;
        return "";
    };
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        const bool takesValue = a == "-o" || a == "--moveable" || a == "--static" ||
                                a == "--objects" || a == "--scale" || a == "--format";
        if (takesValue && i + 1 >= args.size()) return a + " needs a value";
        if (a == "-o") {
            if (!o.output.empty()) return "-o given twice";
            o.output = args[++i];
            if (o.output.empty()) return "-o needs a file name";
        } else if (a == "--format") {
            if (o.haveFormat) return "--format given twice";
            o.haveFormat = true;
            const std::string& f = args[++i];
            if (f != "glb" && f != "gltf") return "--format wants glb or gltf";
            o.objectsAsJson = f == "gltf";
        } else if (a == "--scale") {
            const std::string& v = args[++i];
            size_t used = 0;
            double s = 0;
            try {
                s = std::stod(v, &used);
            } catch (...) {
                used = 0;
            }
            // Level coordinates reach 32,768: beyond a million metres per unit the positions
            // would leave the range of the file's 32-bit floats.
            if (used != v.size() || !std::isfinite(s) || s < kSmallestScale || s > 1e6)
                return "--scale wants a number from 1e-37 to 1e6 (metres per level unit)";
            o.request.scale = s;
        } else if (a == "--all") {
            if (auto why = kind(Kind::AllMeshes); !why.empty()) return why;
        } else if (a == "--level") {
            if (auto why = kind(Kind::Level); !why.empty()) return why;
        } else if (a == "--animations") {
            o.request.animations = true;
        } else if (a == "--no-items" || a == "--no-lights") {
            (a == "--no-items" ? o.request.items : o.request.lights) = false;
            o.trimsLevel = true;
        } else if (a == "--moveable" || a == "--static") {
            if (auto why = kind(a == "--moveable" ? Kind::Moveable : Kind::Static); !why.empty())
                return why;
            unsigned long long id = 0;
            if (!ParseCount(args[++i], 0xFFFFFFFFull, id)) return a + " wants an object id";
            o.request.id = static_cast<uint32_t>(id);
        } else if (a == "--objects") {
            if (auto why = kind(Kind::Moveable); !why.empty()) return why;
            o.objectsDir = args[++i];
            if (o.objectsDir.empty()) return "--objects needs a folder name";
        } else if (auto why = TakeOperand(a, positional); !why.empty()) {
            return why;
        }
    }
    if (positional.empty()) return "export needs a FILE";
    o.path = positional[0];
    if (positional.size() > 1) {
        if (auto why = kind(Kind::Meshes); !why.empty()) return why;
        for (size_t i = 1; i < positional.size(); ++i) {
            unsigned long long index = 0;
            if (!ParseCount(positional[i], 1u << 30, index))
                return "INDEX must be a mesh number, not '" + positional[i] + "'";
            o.request.meshes.push_back(static_cast<int>(index));
        }
    }
    if (!o.haveKind)
        return "export needs INDEX..., --all, --moveable ID, --static ID, --objects or --level";
    if (o.objectsDir.empty() == o.output.empty())
        return o.objectsDir.empty() ? "export needs -o OUT.glb or OUT.gltf"
                                    : "--objects DIR writes its own files; leave out -o";
    if (o.trimsLevel && o.request.kind != Kind::Level)
        return "--no-items and --no-lights are for --level";
    if (o.request.animations && o.request.kind != Kind::Moveable)
        return "--animations is for --moveable and --objects";
    if (o.haveFormat && o.objectsDir.empty())
        return "--format is for --objects; the name after -o chooses the form";
    if (!o.output.empty() && !tr4export::IsExportPath(o.output))
        return "the output must end in .glb or .gltf, not '" + o.output + "'";
    o.request.binary = !tr4export::IsJsonPath(o.output);
    return "";
}

// The level being read is never an output, however either is spelled.
std::string RefuseInput(const std::string& level, const std::string& output) {
    const std::optional<tr4export::FileId> in = tr4export::IdOf(level);
    if (in && tr4export::IdOf(output) == in)
        return output + " is the level being read; choose another output";
    return "";
}

// The export's share of the level's memory budget, taken before anything is built and given
// back when the file is written.
class Charge {
  public:
    explicit Charge(tr4::MemoryBudget& budget) : budget(budget) {}
    ~Charge() { budget.Give(taken); }
    bool Take(uint64_t bytes, const char* what, std::string& error) {
        if (!budget.Take(bytes, what, error)) return false;
        taken += bytes;
        return true;
    }

  private:
    tr4::MemoryBudget& budget;
    uint64_t taken = 0;
};

// Builds and writes one file; returns 0, or the exit status of the failure after saying why.
// before: what must be written ahead of the file (the pages it names), given the model.
int ExportOne(tr4::LoadedLevel& l, const tr4export::ExportRequest& request,
              const tr4export::ObjectMeshes& objects, const std::string& out,
              const std::string& levelPath, std::optional<tr4export::FileId> input,
              const std::function<int(const tinygltf::Model&)>& before = nullptr,
              tr4export::SafeFileBatch* batch = nullptr, bool narrowPages = false) {
    const tr4export::ExportCost cost =
        tr4export::EstimateExport(*l.level, l.meshes.get(), request, objects);
    if (narrowPages && request.pages) {
        // The pages guessed while the level loaded, kept to those this file draws from.
        std::set<tr4export::PagePngCache::Key> wanted;
        for (const auto& [page, additive] : cost.images)
            wanted.insert(
                {page, additive ? tr4export::PageAlpha::Brightness : tr4export::PageAlpha::Stored});
        request.pages->Narrow(wanted);
    }
    Charge charge(l.budget);
    std::string error;
    if (cost.ok && !charge.Take(cost.memory, "the export", error)) {
        std::fprintf(stderr, "tr4tool: %s: %s\n", levelPath.c_str(), error.c_str());
        return 1;
    }
    tinygltf::Model model;
    std::vector<std::string> warnings;
    // A binary file is written from the builder's streams and accessor records themselves.
    tr4export::ModelBulk bulk;
    tr4export::ExportRequest asked = request;
    if (asked.binary) asked.bulk = &bulk;
    if (!tr4export::BuildModel(*l.level, l.meshes.get(), asked, model, warnings, error))
        return UsageError(error);
    PrintWarnings(levelPath, warnings);
    if (before)
        if (const int status = before(model); status != 0) return status;
    // The model and its streams go while the file is made durable.
    auto letGo = [&] {
        model = tinygltf::Model();
        bulk = tr4export::ModelBulk();
    };
    if (!tr4export::WriteModel(model, out, request.binary, error, input, batch, asked.bulk,
                               letGo)) {
        std::fprintf(stderr, "tr4tool: %s\n", error.c_str());
        return kCannotWrite;
    }
    return 0;
}

}  // namespace

namespace {

// Encoding the pages is most of an export's work: they are started on the cache's thread as soon
// as the load has them, while the rest of the file is decompressed and parsed. A whole level uses
// nearly every page. An object is drawn from the pages of object textures, which the file keeps
// after the rooms' (its header counts both); which of those it really uses is known only once
// its meshes are read, and the guess is narrowed to them then.
class EarlyPages : public tr4::PagesWatcher {
  public:
    explicit EarlyPages(bool objectPagesOnly) : objectPagesOnly(objectPagesOnly) {}
    void Ready(const tr4::Level& level) override {
        cache.emplace(level);
        int first = 0, end = tr4::PageCount(level);
        if (objectPagesOnly) {
            first = std::min<int>(level.roomPageCount, end);
            end = std::min<int>(first + level.objectPageCount, end);
        }
        for (int page = first; page < end; ++page) cache->Prefetch(page);
    }
    void Gone() override { cache.reset(); }
    // The images made so far stay (a built model's file refers to them); no more are made.
    void Stop() {
        if (cache) cache->Stop();
    }
    tr4export::PagePngCache* Cache() { return cache ? &*cache : nullptr; }

  private:
    const bool objectPagesOnly;
    std::optional<tr4export::PagePngCache> cache;
};

}  // namespace

int Export(const Args& args) {
    ExportOptions o;
    if (const std::string why = Parse(args, o); !why.empty()) return UsageError(why);
    // The export makes tens of thousands of small records and streams of a few MiB, on three
    // threads, after a load that lets go of megabytes: one heap for all of them, blocks up to
    // 2 MiB taken from it and its top kept up to 4 MiB, so that memory let go is used again
    // rather than new pages faulted in (a fifth of the faults of an animated export, each a few
    // microseconds of the kernel's).
    mallopt(M_ARENA_MAX, 1);
    mallopt(M_MMAP_THRESHOLD, 2 << 20);
    mallopt(M_TRIM_THRESHOLD, 4 << 20);
    if (!o.output.empty())
        if (const std::string why = RefuseInput(o.path, o.output); !why.empty())
            return UsageError(why);
    const std::optional<tr4export::FileId> input = tr4export::IdOf(o.path);
    tr4::LoadedLevel l;
    const bool wholeLevel = o.request.kind == tr4export::ExportRequest::Kind::Level;
    // Declared after the level, so that its thread has stopped before the level goes.
    EarlyPages early(!wholeLevel);
    if (!LoadAndDecode(o.path, l, tr4::kPages32Block, o.objectsDir.empty() ? &early : nullptr))
        return 1;
    const tr4export::ObjectMeshes objects(*l.level, l.meshes.get());
    tr4export::ExportRequest request = o.request;
    request.objects = &objects;
    if (early.Cache()) request.pages = early.Cache();
    request.name = std::filesystem::path(o.path).stem().string();
    if (o.objectsDir.empty()) {
        // Once the model is built its pages' images are made: the level's texels go before the
        // file is written, and so do pages still being encoded for nothing.
        auto letPagesGo = [&](const tinygltf::Model&) {
            early.Stop();
            tr4::ReleaseRawBlocks(*l.level, tr4::kNoRawBlocks, l.budget);
            return 0;
        };
        return ExportOne(l, request, objects, o.output, o.path, input, letPagesGo, nullptr,
                         !wholeLevel);
    }

    // Every moveable and static, records that share an id included: the second is -2, and so on.
    using Kind = tr4export::ExportRequest::Kind;
    struct Object {
        Kind kind;
        uint32_t id, occurrence;
        std::string name;
    };
    std::vector<Object> all;
    std::map<std::pair<Kind, uint32_t>, uint32_t> seen;
    auto add = [&](Kind kind, uint32_t id) {
        const uint32_t occurrence = seen[{kind, id}]++;
        std::string name = (kind == Kind::Moveable ? "moveable-" : "static-") + std::to_string(id);
        if (occurrence > 0) name += "-" + std::to_string(occurrence + 1);
        all.push_back({kind, id, occurrence, name + (o.objectsAsJson ? ".gltf" : ".glb")});
    };
    for (const tr4::MoveableRecord& m : l.level->moveables) add(Kind::Moveable, m.id);
    for (const tr4::StaticRecord& st : objects.Statics()) add(Kind::Static, st.id);

    request.binary = !o.objectsAsJson;
    // As .gltf, the files share their pages as PNG files of one folder beside them, each page
    // written once, so that a tool importing several objects loads each page once.
    constexpr const char* kPageFolder = "pages";
    if (o.objectsAsJson) request.imageFolder = kPageFolder;

    // What the command writes, all files together, stays within the level's budget: refused
    // before the first file rather than after filling a disk.
    uint64_t total = 0, pageFiles = 0;
    for (const Object& object : all) {
        request.kind = object.kind;
        request.id = object.id;
        request.occurrence = object.occurrence;
        const tr4export::ExportCost cost =
            tr4export::EstimateExport(*l.level, l.meshes.get(), request, objects);
        total += cost.file;
        pageFiles += cost.pages;
    }
    const uint64_t encodedPages = 2ull * static_cast<uint64_t>(tr4::PageCount(*l.level)) *
                                  tr4::kPage32Bytes;  // both alphas of every page, at worst
    total += std::min(pageFiles, encodedPages);
    std::string error;
    Charge pagesKept(l.budget);
    if (total > l.budget.Limit() || !pagesKept.Take(encodedPages, "the encoded pages", error)) {
        if (error.empty())
            error = "the exported files would take " + std::to_string(total >> 20) +
                    " MiB, more than the level's budget of " +
                    std::to_string(l.budget.Limit() >> 20) + " MiB";
        std::fprintf(stderr, "tr4tool: %s: %s\n", o.path.c_str(), error.c_str());
        return 1;
    }

    std::error_code ec;
    std::filesystem::create_directories(o.objectsDir, ec);
    if (ec) {
        std::fprintf(stderr, "tr4tool: cannot make the folder %s: %s\n", o.objectsDir.c_str(),
                     ec.message().c_str());
        return kCannotWrite;
    }
    tr4export::PagePngCache pages(*l.level);
    request.pages = &pages;
    // Every file of the folder is made durable at once: a sync per file cost more than the rest
    // of the export. Pages are added before the objects that name them, and renamed first.
    tr4export::SafeFileBatch batch(input);
    std::set<std::string> pagesWritten;
    auto writePages = [&](const tinygltf::Model& model) {
        for (const tinygltf::Image& image : model.images) {
            if (image.uri.empty() || !pagesWritten.insert(image.uri).second) continue;
            const size_t space = image.name.find(' ');
            const int page = std::stoi(image.name.substr(space + 1));
            const auto alpha = image.name.ends_with("additive") ? tr4export::PageAlpha::Brightness
                                                                : tr4export::PageAlpha::Stored;
            const std::vector<uint8_t>& png = pages.Png(page, alpha);
            std::string why;
            std::filesystem::create_directories(o.objectsDir + "/" + kPageFolder, ec);
            if (!batch.Write(o.objectsDir + "/" + image.uri, png.data(), png.size(), why)) {
                std::fprintf(stderr, "tr4tool: %s\n", why.c_str());
                return kCannotWrite;
            }
        }
        return 0;
    };
    for (const Object& object : all) {
        request.kind = object.kind;
        request.id = object.id;
        request.occurrence = object.occurrence;
        // The pages go first, so that no file names a page that is not there.
        const int status = ExportOne(
            l, request, objects, o.objectsDir + "/" + object.name, o.path, input,
            o.objectsAsJson ? std::function<int(const tinygltf::Model&)>(writePages) : nullptr,
            &batch);
        if (status != 0) {
            // What was written whole before the failure stays, as one file at a time left it.
            std::string ignored;
            batch.Commit(ignored);
            return status;
        }
    }
    if (std::string why; !batch.Commit(why)) {
        std::fprintf(stderr, "tr4tool: %s\n", why.c_str());
        return kCannotWrite;
    }
    return 0;
}

int Pages(const Args& args) {
    std::vector<std::string> positional;
    for (const std::string& a : args)
        if (const std::string why = TakeOperand(a, positional); !why.empty())
            return UsageError(why);
    if (positional.size() != 2) return UsageError("pages needs FILE DIR");
    tr4::LoadedLevel l;
    if (!LoadAndDecode(positional[0], l, tr4::kPages32Block)) return 1;
    std::string error;
    if (tr4export::WritePages(*l.level, positional[1], error, tr4export::IdOf(positional[0])) < 0) {
        std::fprintf(stderr, "tr4tool: %s\n", error.c_str());
        return kCannotWrite;
    }
    return 0;
}

}  // namespace tr4tool
