// tr4tool as a user runs it: exit status, the lines it prints and the JSON it writes.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

struct ToolRun {
    int status;
    std::string out;
};

ToolRun Tool(const std::string& args) {
    const std::string command = std::string(TR4TOOL) + " " + args + " 2>&1";
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
                    "triangles=0\n"))
        << text.out;
    const ToolRun json = Tool(std::string("meshes --json ") + TR4_SAMPLE_LEVEL);
    EXPECT_EQ(json.status, 0);
    EXPECT_TRUE(Has(json.out,
                    "{\"index\": 3, \"offset\": 576, \"centre\": [0, 0, 0], \"vertexCount\": 6, "
                    "\"normalCount\": -6, \"rectangleCount\": 0, \"triangleCount\": 8}\n]"))
        << json.out;
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

    for (const char* bad : {"", "info", "frobnicate x.tr4", "info a b", "meshes --bogus x"}) {
        const ToolRun usage = Tool(bad);
        EXPECT_EQ(usage.status, 2) << bad;
        EXPECT_TRUE(Has(usage.out, "usage: tr4tool")) << bad;
    }
    const ToolRun help = Tool("--help");
    EXPECT_EQ(help.status, 0);
    EXPECT_TRUE(Has(help.out, "info FILE [--json]"));
    EXPECT_TRUE(Has(help.out, "meshes FILE [--json]"));
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
    EXPECT_EQ(Tool("export " + level + " 999 -o " + dir + "/x.glb").status, 2);
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
