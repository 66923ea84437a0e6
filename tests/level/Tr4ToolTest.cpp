// tr4tool as a user runs it: exit status, the lines it prints and the JSON it writes.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <set>
#include <string>
#include <utility>
#include <vector>

namespace {

struct ToolRun {
    int status;
    std::string out;
};

// before: shell words run ahead of the tool in the same shell (limits, traps).
ToolRun Tool(const std::string& args, const std::string& before = "") {
    const std::string command = before + std::string(TR4TOOL) + " " + args + " 2>&1";
    FILE* pipe = popen(command.c_str(), "r");
    ToolRun run{-1, ""};
    if (!pipe) return run;
    std::array<char, 4096> buffer;
    size_t n;
    while ((n = fread(buffer.data(), 1, buffer.size(), pipe)) > 0) run.out.append(buffer.data(), n);
    const int raw = pclose(pipe);
    run.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    return run;
}

bool Has(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

TEST(Tr4Tool, InfoOnTheRealLevel) {
    const ToolRun text = Tool(std::string("info ") + TR4_REAL_LEVEL);
    EXPECT_EQ(text.status, 0) << text.out;
    EXPECT_TRUE(Has(text.out, "version: 0x00345254\n"));
    EXPECT_TRUE(Has(text.out, "meshCount: 191\n"));
    EXPECT_TRUE(Has(text.out, "faceCount: 6635\n"));
    EXPECT_TRUE(Has(text.out, "pageCount: 15\n"));
    EXPECT_TRUE(Has(text.out, "parseComplete: yes (709191 of 709191 bytes"));
    // The sizes of the chunks, whose bytes info does not keep.
    for (const char* size : {"pages32Size: 3932160\n", "pages16Size: 1966080\n",
                             "miscPagesSize: 524288\n", "levelDataSize: 709191\n"})
        EXPECT_TRUE(Has(text.out, size)) << size;

    const ToolRun json = Tool(std::string("info --json ") + TR4_REAL_LEVEL);
    EXPECT_EQ(json.status, 0);
    for (const char* part :
         {"{\"version\": 3428948, ",
          "\"roomPageCount\": ", "\"pages32PackedSize\": ", "\"levelDataPackedSize\": 383490, ",
          "\"meshDataWordCount\": 72664, ", "\"sampleIndexCount\": ", "\"demoDataCount\": 0, ",
          "\"pageCount\": 15, ", "\"meshCount\": 191, ", "\"faceCount\": 6635, ",
          "\"parseComplete\": true", "\"warnings\": []}"})
        EXPECT_TRUE(Has(json.out, part)) << part << " in " << json.out;
}

TEST(Tr4Tool, MeshesListsEveryMeshInOrder) {
    const ToolRun text = Tool(std::string("meshes ") + TR4_SAMPLE_LEVEL);
    EXPECT_EQ(text.status, 0);
    EXPECT_TRUE(Has(text.out,
                    "2 offset=320 centre=(300, -50, 200) vertices=16 normals=-16 rectangles=9 "
                    "triangles=0 owners: not used by any object\n"))
        << text.out;
    const ToolRun json = Tool(std::string("meshes --json ") + TR4_SAMPLE_LEVEL);
    EXPECT_EQ(json.status, 0);
    EXPECT_TRUE(Has(json.out,
                    "{\"index\": 3, \"offset\": 576, \"centre\": [0, 0, 0], \"vertexCount\": 6, "
                    "\"normalCount\": -6, \"rectangleCount\": 0, \"triangleCount\": 8, "
                    "\"owners\": []}\n]"))
        << json.out;
}

// Counts of "needle" in text.
int Occurrences(const std::string& text, const std::string& needle) {
    int n = 0;
    for (size_t at = text.find(needle); at != std::string::npos; at = text.find(needle, at + 1))
        ++n;
    return n;
}

// The JSON object of mesh index, from its opening brace to the next one's.
std::string MeshEntry(const std::string& json, int index) {
    const size_t from = json.find("{\"index\": " + std::to_string(index) + ",");
    if (from == std::string::npos) return "";
    return json.substr(from, json.find("{\"index\": ", from + 1) - from);
}

// The real level's objects, worked out by hand from its decompressed level data: 249 mesh
// pointers, 59 of them 0 (the placeholder mesh 0, which the skeletons 0, 1, 13 and 14 use for
// most parts). Moveable 8 (Lara) has meshCount 15 from firstMesh 30, whose pointers 1024, 1612,
// ... are the offsets of meshes 2, 3, ...; moveable 9 has 15 parts too. The 23 static records
// (ids 10 to 39) take pointers 226 to 248, 110032 to 144348: meshes 168 to 190. The moveables'
// meshCounts add up to 249 - 23 = 226, so every pointer is used once.
TEST(Tr4Tool, MeshesNamesTheObjectsThatUseEachMesh) {
    const ToolRun json = Tool(std::string("meshes --json ") + TR4_REAL_LEVEL);
    ASSERT_EQ(json.status, 0);
    EXPECT_EQ(Occurrences(json.out, "\"owners\": ["), 191);
    EXPECT_EQ(Occurrences(json.out, "{\"kind\": \"moveable\""), 226);
    EXPECT_EQ(Occurrences(json.out, "{\"kind\": \"static\""), 23);
    EXPECT_EQ(Occurrences(json.out, "\"owners\": []"), 0);
    for (int part = 0; part < 15; ++part) {
        EXPECT_TRUE(Has(MeshEntry(json.out, 2 + part),
                        "\"owners\": [{\"kind\": \"moveable\", \"id\": 8, \"part\": " +
                            std::to_string(part) + "}]}"))
            << part;
    }
    EXPECT_EQ(Occurrences(json.out, "\"id\": 9, \"part\": "), 15);
    EXPECT_EQ(Occurrences(MeshEntry(json.out, 0), "\"kind\": \"moveable\""), 59);
    EXPECT_TRUE(Has(MeshEntry(json.out, 168), "\"owners\": [{\"kind\": \"static\", \"id\": 10}]"));
    EXPECT_TRUE(Has(MeshEntry(json.out, 190), "\"owners\": [{\"kind\": \"static\", \"id\": 39}]"));

    const ToolRun text = Tool(std::string("meshes ") + TR4_REAL_LEVEL);
    EXPECT_TRUE(Has(text.out, "triangles=0 owners: moveable 1, part 13\n")) << text.out;
    EXPECT_TRUE(Has(text.out, "owners: moveable 13, part 4\n"));
    EXPECT_TRUE(Has(text.out, "owners: static 39\n"));
}

TEST(Tr4Tool, UnreadableFilesAndUsageErrors) {
    const ToolRun missing = Tool("info /nonexistent/level.tr4");
    EXPECT_EQ(missing.status, 1);
    EXPECT_EQ(missing.out,
              "tr4tool: /nonexistent/level.tr4: cannot open: No such file or directory\n");
    const ToolRun directory = Tool("meshes /tmp");
    EXPECT_EQ(directory.status, 1);
    EXPECT_EQ(directory.out, "tr4tool: /tmp: cannot open: it is a directory\n");
    const ToolRun notLevel = Tool("info /dev/null");
    EXPECT_EQ(notLevel.status, 1);

    // Nothing asked: the whole usage. A mistake: one line that says what is wrong, and a hint.
    const ToolRun nothing = Tool("");
    EXPECT_EQ(nothing.status, 2);
    EXPECT_TRUE(Has(nothing.out, "usage: tr4tool"));
    for (const char* bad : {"info", "frobnicate x.tr4", "info a b", "meshes --bogus x"}) {
        const ToolRun usage = Tool(bad);
        EXPECT_EQ(usage.status, 2) << bad;
        EXPECT_EQ(std::count(usage.out.begin(), usage.out.end(), '\n'), 2) << usage.out;
        EXPECT_TRUE(usage.out.starts_with("tr4tool: ")) << usage.out;
        EXPECT_TRUE(usage.out.ends_with("\nsee tr4tool --help\n")) << usage.out;
    }
    const ToolRun help = Tool("--help");
    EXPECT_EQ(help.status, 0);
    EXPECT_TRUE(Has(help.out, "info FILE [--json]"));
    EXPECT_TRUE(Has(help.out, "meshes FILE [--json]"));
}

// "tr4tool COMMAND --help" (or -h, anywhere after the command) is that command's usage alone, on
// standard output with status 0; after a name that is no command it is the whole usage.
TEST(Tr4Tool, CommandHelpIsThatCommandAlone) {
    const std::vector<std::string> commands = {"info", "meshes", "export", "pages"};
    for (const std::string& command : commands) {
        for (const std::string& args : {command + " --help", command + " x.tr4 -h"}) {
            const ToolRun own = Tool(args + " 2>/dev/null");
            EXPECT_EQ(own.status, 0) << args;
            EXPECT_EQ(own.out.rfind("usage: tr4tool " + command + " FILE", 0), 0u) << own.out;
            EXPECT_TRUE(Has(own.out, "\n  " + command + " FILE")) << own.out;
            for (const std::string& other : commands) {
                if (other == command) continue;
                EXPECT_FALSE(Has(own.out, "  " + other + " FILE")) << own.out;
            }
            EXPECT_FALSE(Has(own.out, "Exit status")) << own.out;
        }
    }
    EXPECT_TRUE(Has(Tool("export --help").out, "--objects DIR"));
    const ToolRun unknown = Tool("frobnicate --help");
    EXPECT_EQ(unknown.status, 0);
    for (const std::string& command : commands)
        EXPECT_TRUE(Has(unknown.out, "  " + command + " FILE")) << command;
}

TEST(Tr4Tool, OutputThatCannotBeWrittenIsAnErrorNotASuccess) {
    // A full disk and a standard output closed by the caller: what was printed never arrived.
    const std::pair<const char*, const char*> outputs[] = {
        {">/dev/full", "No space left on device"}, {">&-", "it is closed"}};
    for (const char* command : {"info", "info --json", "meshes", "meshes --json"}) {
        for (const auto& [redirect, why] : outputs) {
            const std::string shell =
                std::string(TR4TOOL) + " " + command + " " + TR4_REAL_LEVEL + " 2>&1 " + redirect;
            FILE* pipe = popen(shell.c_str(), "r");
            ASSERT_NE(pipe, nullptr);
            std::string said;
            char buffer[512];
            while (std::fgets(buffer, sizeof buffer, pipe)) said += buffer;
            const int raw = pclose(pipe);
            EXPECT_EQ(WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, 3) << command << redirect;
            EXPECT_EQ(said, std::string("tr4tool: cannot write to standard output: ") + why + "\n")
                << command << redirect;
        }
    }
}

}  // namespace

namespace {

TEST(Tr4Tool, ExportAndPagesStatusesAndFiles) {
    const std::string dir = ::testing::TempDir() + "/tr4tool-export-" + std::to_string(getpid());
    const std::string level = TR4_SAMPLE_LEVEL;
    std::system(("rm -rf " + dir + " && mkdir -p " + dir).c_str());
    // Usage errors: no kind, two kinds, no output, an output beside --objects, a bad scale.
    for (const char* args :
         {" -o x.glb", " --all 0 -o x.glb", " --all", " --objects d -o x.glb",
          " --all --scale -1 -o x.glb", " --all --scale 1e39 -o x.glb", " --moveable x -o x.glb"}) {
        EXPECT_EQ(Tool("export " + level + args).status, 2) << args;
    }
    // Naming nothing that the level holds is a usage error too.
    for (const char* args : {" 999", " 0 999", " --moveable 4000", " --static 4000"})
        EXPECT_EQ(Tool("export " + level + args + " -o " + dir + "/x.glb").status, 2) << args;
    EXPECT_EQ(Tool("export /nonexistent.tr4 --all -o " + dir + "/x.glb").status, 1);
    EXPECT_EQ(Tool("export " + level + " --all -o /nonexistent/dir/x.glb").status, 3);
    EXPECT_EQ(Tool("pages " + level).status, 2);

    const ToolRun all = Tool("export " + level + " --all -o " + dir + "/all.gltf");
    EXPECT_EQ(all.status, 0) << all.out;
    FILE* f = std::fopen((dir + "/all.gltf").c_str(), "rb");
    ASSERT_NE(f, nullptr);
    char head[16] = {};
    EXPECT_EQ(std::fread(head, 1, 1, f), 1u);
    std::fclose(f);
    EXPECT_EQ(head[0], '{');  // JSON, not the binary form

    const ToolRun pages = Tool("pages " + level + " " + dir + "/pages");
    EXPECT_EQ(pages.status, 0) << pages.out;
    f = std::fopen((dir + "/pages/page-0.png").c_str(), "rb");
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(std::fread(head, 1, 8, f), 8u);
    std::fclose(f);
    EXPECT_EQ(std::string(head + 1, 3), "PNG");
    std::system(("rm -rf " + dir).c_str());
}

}  // namespace

namespace {

namespace fs = std::filesystem;

std::string Bytes(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// Files of dir, temporary ones included.
std::set<std::string> Listing(const fs::path& dir) {
    std::set<std::string> names;
    for (const auto& e : fs::recursive_directory_iterator(dir))
        names.insert(fs::relative(e.path(), dir).string());
    return names;
}

struct Scratch {
    fs::path dir = fs::path(::testing::TempDir()) / ("tr4tool-safe-" + std::to_string(getpid()));
    Scratch() {
        fs::remove_all(dir);
        fs::create_directories(dir);
    }
    ~Scratch() { fs::remove_all(dir); }
};

TEST(Tr4Tool, ExportNeverHarmsTheLevelNorAnExistingFile) {
    Scratch s;
    // A level named like an output, so that only its identity can tell it from one.
    const fs::path level = s.dir / "level.glb";
    fs::copy_file(TR4_SAMPLE_LEVEL, level);
    const std::string original = Bytes(level);
    fs::create_symlink(level, s.dir / "link.glb");
    fs::create_hard_link(level, s.dir / "hard.glb");
    for (const std::string& out : {level.string(), (s.dir / "." / "level.glb").string(),
                                   (s.dir / "link.glb").string(), (s.dir / "hard.glb").string()}) {
        const ToolRun run = Tool("export " + level.string() + " 0 -o " + out);
        EXPECT_EQ(run.status, 2) << out << ": " << run.out;
        EXPECT_TRUE(Has(run.out, "is the level being read")) << run.out;
        EXPECT_EQ(Bytes(level), original) << out;
    }

    // A write that fails midway (the file size limit; a full disk fails the same way) leaves a
    // previous export as it was, says why, and leaves no temporary file behind.
    const fs::path good = s.dir / "all.glb";
    ASSERT_EQ(Tool(std::string("export ") + TR4_REAL_LEVEL + " --all -o " + good.string()).status,
              0);
    const std::string before = Bytes(good);
    const std::set<std::string> files = Listing(s.dir);
    const std::string limited = "trap '' XFSZ; ulimit -f 256; ";
    const ToolRun full =
        Tool(std::string("export ") + TR4_REAL_LEVEL + " --all -o " + good.string(), limited);
    EXPECT_EQ(full.status, 3);
    EXPECT_TRUE(Has(full.out, "cannot write " + good.string() + ": File too large")) << full.out;
    EXPECT_EQ(Bytes(good), before);
    EXPECT_EQ(Listing(s.dir), files);

    // Folders of files: whatever was written is whole, and nothing half-written stays.
    for (const std::string& command : {std::string("export ") + TR4_REAL_LEVEL + " --objects ",
                                       std::string("pages ") + TR4_REAL_LEVEL + " "}) {
        const fs::path dir = s.dir / "many";
        fs::remove_all(dir);
        const ToolRun run = Tool(command + dir.string(), "trap '' XFSZ; ulimit -f 96; ");
        EXPECT_EQ(run.status, 3) << command << run.out;
        for (const std::string& name : Listing(dir)) {
            EXPECT_NE(name[0], '.') << command << ": " << name << " left behind";
            const std::string bytes = Bytes(dir / name);
            EXPECT_TRUE(bytes.starts_with("glTF") || bytes.starts_with("\x89PNG")) << name;
            EXPECT_LT(bytes.size(), 96u * 1024) << name;
        }
    }
}

TEST(Tr4Tool, ExportWritesTheFormItsOutputNames) {
    Scratch s;
    const std::string level = TR4_SAMPLE_LEVEL;
    EXPECT_EQ(Tool("export " + level + " 0 -o " + (s.dir / "MESH.GLTF").string()).status, 0);
    EXPECT_TRUE(Bytes(s.dir / "MESH.GLTF").starts_with("{"));
    EXPECT_EQ(Tool("export " + level + " 0 -o " + (s.dir / "Mesh.Glb").string()).status, 0);
    EXPECT_TRUE(Bytes(s.dir / "Mesh.Glb").starts_with("glTF"));
    for (const char* bad : {"mesh.obj", "mesh.png", "mesh", "mesh.glb.tmp"}) {
        const ToolRun run = Tool("export " + level + " 0 -o " + (s.dir / bad).string());
        EXPECT_EQ(run.status, 2) << bad;
        EXPECT_FALSE(fs::exists(s.dir / bad)) << bad;
    }
    EXPECT_EQ(Tool("export " + level + " 0 -o a.glb -o b.glb").status, 2);
    EXPECT_EQ(Tool("export " + level + " 0 --scale 1e-300 -o " + (s.dir / "x.glb").string()).status,
              2);
    EXPECT_EQ(Tool("export " + level + " 0 --format gltf -o " + (s.dir / "x.glb").string()).status,
              2);
}

TEST(Tr4Tool, ObjectsAsGltfShareOnePageFolder) {
    Scratch s;
    const fs::path glb = s.dir / "glb", gltf = s.dir / "gltf";
    const std::string level = TR4_REAL_LEVEL;
    ASSERT_EQ(Tool("export " + level + " --objects " + glb.string()).status, 0);
    ASSERT_EQ(Tool("export " + level + " --objects " + gltf.string() + " --format gltf").status, 0);
    uintmax_t glbBytes = 0, gltfBytes = 0;
    for (const auto& e : fs::recursive_directory_iterator(glb)) glbBytes += fs::file_size(e);
    std::set<std::string> named;
    size_t files = 0;
    for (const auto& e : fs::recursive_directory_iterator(gltf)) {
        if (e.is_directory()) continue;
        gltfBytes += fs::file_size(e);
        if (e.path().extension() != ".gltf") continue;
        ++files;
        // Every image is a page of the folder, named relative to the file.
        const std::string text = Bytes(e.path());
        for (size_t at = text.find("\"uri\":\"pages/"); at != std::string::npos;
             at = text.find("\"uri\":\"pages/", at + 1)) {
            const std::string uri = text.substr(at + 7, text.find('"', at + 7) - at - 7);
            EXPECT_TRUE(fs::exists(gltf / uri)) << uri << " named by " << e.path();
            named.insert(uri);
        }
    }
    EXPECT_EQ(files, Listing(glb).size());
    std::set<std::string> written;
    for (const std::string& name : Listing(gltf / "pages")) written.insert("pages/" + name);
    EXPECT_EQ(named, written);  // each page once, and only those the files use
    std::printf("--objects: %ju bytes as .glb, %ju as .gltf with shared pages\n", glbBytes,
                gltfBytes);
    EXPECT_LT(gltfBytes * 3, glbBytes);
}

}  // namespace
