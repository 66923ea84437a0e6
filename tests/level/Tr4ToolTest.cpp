// tr4tool as a user runs it: exit status, the lines it prints and the JSON it writes.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <array>
#include <cstdio>
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
