// tr4tool export and tr4tool pages: a level's meshes and objects as glTF 2.0, its texture pages
// as PNG files.
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "Commands.h"
#include "GltfExport.h"
#include "Loaded.h"
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
        if (o.haveKind) return "choose one of INDEX..., --all, --moveable, --static, --objects";
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
    if (!o.haveKind) return "export needs INDEX..., --all, --moveable ID, --static ID or --objects";
    if (o.objectsDir.empty() == o.output.empty())
        return o.objectsDir.empty() ? "export needs -o OUT.glb or OUT.gltf"
                                    : "--objects DIR writes its own files; leave out -o";
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

// Builds and writes one file; returns 0, or the exit status of the failure after saying why.
// before: what must be written ahead of the file (the pages it names), given the model.
int ExportOne(const tr4::LoadedLevel& l, const tr4export::ExportRequest& request,
              const std::string& out, const std::string& levelPath,
              std::optional<tr4export::FileId> input,
              const std::function<int(const tinygltf::Model&)>& before = nullptr) {
    tinygltf::Model model;
    std::vector<std::string> warnings;
    std::string error;
    if (!tr4export::BuildModel(*l.level, l.meshes.get(), request, model, warnings, error))
        return UsageError(error);
    PrintWarnings(levelPath, warnings);
    if (before)
        if (const int status = before(model); status != 0) return status;
    if (!tr4export::WriteModel(model, out, request.binary, error, input)) {
        std::fprintf(stderr, "tr4tool: %s\n", error.c_str());
        return kCannotWrite;
    }
    return 0;
}

}  // namespace

int Export(const Args& args) {
    ExportOptions o;
    if (const std::string why = Parse(args, o); !why.empty()) return UsageError(why);
    if (!o.output.empty())
        if (const std::string why = RefuseInput(o.path, o.output); !why.empty())
            return UsageError(why);
    const std::optional<tr4export::FileId> input = tr4export::IdOf(o.path);
    tr4::LoadedLevel l;
    if (!LoadAndDecode(o.path, l)) return 1;
    if (o.objectsDir.empty()) return ExportOne(l, o.request, o.output, o.path, input);

    std::error_code ec;
    std::filesystem::create_directories(o.objectsDir, ec);
    if (ec) {
        std::fprintf(stderr, "tr4tool: cannot make the folder %s: %s\n", o.objectsDir.c_str(),
                     ec.message().c_str());
        return kCannotWrite;
    }
    using Kind = tr4export::ExportRequest::Kind;
    tr4export::ExportRequest request = o.request;
    request.binary = !o.objectsAsJson;
    tr4export::PagePngCache pages(*l.level);
    request.pages = &pages;
    const tr4export::ObjectMeshes objects(*l.level, l.meshes.get());
    request.objects = &objects;
    // As .gltf, the files share their pages as PNG files of one folder beside them, each page
    // written once, so that a tool importing several objects loads each page once.
    constexpr const char* kPageFolder = "pages";
    if (o.objectsAsJson) request.imageFolder = kPageFolder;
    std::set<std::string> pagesWritten;
    auto writePages = [&](const tinygltf::Model& model) {
        for (const tinygltf::Image& image : model.images) {
            if (image.uri.empty() || !pagesWritten.insert(image.uri).second) continue;
            const size_t dash = image.name.find(' ');
            const int page = std::stoi(image.name.substr(dash + 1));
            const auto alpha = image.name.ends_with("additive") ? tr4export::PageAlpha::Brightness
                                                                : tr4export::PageAlpha::Stored;
            const std::vector<uint8_t>& png = pages.Png(page, alpha);
            std::string error;
            std::filesystem::create_directories(o.objectsDir + "/" + kPageFolder, ec);
            if (!tr4export::WriteFileSafely(o.objectsDir + "/" + image.uri, png.data(), png.size(),
                                            error, input)) {
                std::fprintf(stderr, "tr4tool: %s\n", error.c_str());
                return kCannotWrite;
            }
        }
        return 0;
    };
    auto one = [&](Kind kind, uint32_t id) {
        request.kind = kind;
        request.id = id;
        const std::string name = (kind == Kind::Moveable ? "moveable-" : "static-") +
                                 std::to_string(id) + (o.objectsAsJson ? ".gltf" : ".glb");
        // The pages go first, so that no file names a page that is not there.
        return ExportOne(
            l, request, o.objectsDir + "/" + name, o.path, input,
            o.objectsAsJson ? std::function<int(const tinygltf::Model&)>(writePages) : nullptr);
    };
    for (const tr4::MoveableRecord& m : l.level->moveables)
        if (const int status = one(Kind::Moveable, m.id); status != 0) return status;
    for (uint32_t id : objects.StaticIds())
        if (const int status = one(Kind::Static, id); status != 0) return status;
    return 0;
}

int Pages(const Args& args) {
    std::vector<std::string> positional;
    for (const std::string& a : args)
        if (const std::string why = TakeOperand(a, positional); !why.empty())
            return UsageError(why);
    if (positional.size() != 2) return UsageError("pages needs FILE DIR");
    tr4::LoadedLevel l;
    if (!LoadAndDecode(positional[0], l)) return 1;
    std::string error;
    if (tr4export::WritePages(*l.level, positional[1], error, tr4export::IdOf(positional[0])) < 0) {
        std::fprintf(stderr, "tr4tool: %s\n", error.c_str());
        return kCannotWrite;
    }
    return 0;
}

}  // namespace tr4tool
