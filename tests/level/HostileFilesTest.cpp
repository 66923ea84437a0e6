// tr4tool over files made to hurt a reader: each gives exit 0 or 1 (3 where render cannot draw)
// with a one-line reason, and the process's own peak memory, as the kernel counts it, stays within
// the file's budget above what the tool needs for a small level.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include "HostileLevels.h"
#include "LevelLoader.h"
#include "LevelWriter.h"
#include "LoadLevel.h"
#include "MemoryBudget.h"

namespace {

namespace fs = std::filesystem;

struct ToolRun {
    int status = -1;
    std::string out;
    std::string err;
    long peakKiB = 0;
};

std::string Slurp(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

// Runs program with args, its own peak resident memory read back through wait4. addressLimit,
// when not 0, is the child's RLIMIT_AS (ulimit -v).
ToolRun Spawn(const std::string& program, const std::vector<std::string>& args, const fs::path& dir,
              rlim_t addressLimit = 0) {
    const fs::path out = dir / "stdout", err = dir / "stderr";
    const pid_t pid = fork();
    if (pid == 0) {
        const int o = open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        const int e = open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        dup2(o, 1);
        dup2(e, 2);
        if (addressLimit) {
            const rlimit limit{addressLimit, addressLimit};
            setrlimit(RLIMIT_AS, &limit);
        }
        std::vector<char*> argv{const_cast<char*>(program.c_str())};
        for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        execv(program.c_str(), argv.data());
        _exit(127);
    }
    ToolRun run;
    int raw = 0;
    rusage usage{};
    wait4(pid, &raw, 0, &usage);
    run.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : 128 + WTERMSIG(raw);
    run.out = Slurp(out);
    run.err = Slurp(err);
    run.peakKiB = usage.ru_maxrss;
    return run;
}

// The last line of what the tool said about the file, which must be its whole reason.
std::string LastLine(const std::string& text) {
    std::string t = text;
    while (!t.empty() && t.back() == '\n') t.pop_back();
    return t.substr(t.rfind('\n') == std::string::npos ? 0 : t.rfind('\n') + 1);
}

class HostileFiles : public ::testing::Test {
  protected:
    void SetUp() override {
        dir = fs::temp_directory_path() / ("tr4-hostile-" + std::to_string(getpid()));
        fs::create_directories(dir);
        // The sanitizer's quarantine would hold freed blocks and blur the peak.
        setenv("ASAN_OPTIONS", "detect_leaks=0:abort_on_error=1:quarantine_size_mb=0", 1);
    }
    void TearDown() override { fs::remove_all(dir); }
    fs::path Write(const std::string& name, const tr4test::Bytes& bytes) {
        const fs::path p = dir / name;
        tr4test::WriteFile(p.string(), bytes);
        return p;
    }
    fs::path dir;
};

struct CaseFile {
    std::string name;
    fs::path file;
    bool opens = false;
    std::string reason;
    std::string refusedBy;
    uint64_t size = 0;
};

// The corpus is built in a child process of its own, so this one never holds its buffers: a
// child forked later starts with this process's resident pages and would count them as its own.
std::vector<CaseFile> WriteCorpus(const fs::path& dir) {
    const pid_t pid = fork();
    if (pid == 0) {
        std::ofstream manifest(dir / "manifest");
        int n = 0;
        for (const tr4test::HostileLevel& c : tr4test::HostileCorpus()) {
            const fs::path file = dir / ("case" + std::to_string(n++) + ".tr4");
            tr4test::WriteFile(file.string(), c.file);
            manifest << c.name << '\t' << file.string() << '\t' << c.opens << '\t' << c.reason
                     << '\t' << c.refusedBy << '\n';
        }
        manifest.close();
        _exit(0);
    }
    int raw = 0;
    waitpid(pid, &raw, 0);
    std::vector<CaseFile> cases;
    std::ifstream manifest(dir / "manifest");
    std::string line;
    while (std::getline(manifest, line)) {
        CaseFile c;
        std::stringstream fields(line);
        std::string path, opens;
        std::getline(fields, c.name, '\t');
        std::getline(fields, path, '\t');
        std::getline(fields, opens, '\t');
        std::getline(fields, c.reason, '\t');
        std::getline(fields, c.refusedBy, '\t');
        c.file = path;
        c.opens = opens == "1";
        c.size = fs::file_size(c.file);
        cases.push_back(c);
    }
    return cases;
}

TEST_F(HostileFiles, EveryCaseEndsWithAReasonWithinItsBudget) {
    const bool display = std::getenv("DISPLAY") != nullptr;
    const std::vector<CaseFile> corpus = WriteCorpus(dir);
    ASSERT_EQ(corpus.size(), 11u);
    const fs::path small = Write("small.tr4", tr4test::BuildLevelFile(tr4test::DemoLevel()));
    const long baseInfo = Spawn(TR4TOOL, {"info", small}, dir).peakKiB;
    const long baseRender =
        display ? Spawn(TR4TOOL, {"render", small, "0", "-o", dir / "x.png"}, dir).peakKiB : 0;

    for (const CaseFile& c : corpus) {
        SCOPED_TRACE(c.name);
        const fs::path& file = c.file;
        const long budgetKiB = static_cast<long>(tr4::MemoryBudget::ForFile(c.size).Limit() >> 10);
        std::vector<std::vector<std::string>> commands = {{"info", file},
                                                          {"meshes", "--json", file}};
        if (display) commands.push_back({"render", file, "0", "-o", dir / "case.png"});
        for (const std::vector<std::string>& args : commands) {
            SCOPED_TRACE(args[0]);
            const ToolRun run = Spawn(TR4TOOL, args, dir);
            const bool opens = c.opens && c.refusedBy != args[0];
            EXPECT_EQ(run.status, opens ? 0 : 1) << run.err;
            if (!c.reason.empty() && (c.refusedBy.empty() || !opens)) {
                EXPECT_NE(run.err.find(c.reason), std::string::npos) << run.err;
            }
            if (!opens) {
                // Refused before anything is written.
                EXPECT_EQ(run.out, "");
                // One line: the tool, the file and why.
                EXPECT_EQ(LastLine(run.err).rfind("tr4tool: " + file.string() + ": ", 0), 0u);
                EXPECT_EQ(run.err.find('\n'), run.err.size() - 1) << run.err;
            }
            const long base = args[0] == "render" ? baseRender : baseInfo;
            EXPECT_LE(run.peakKiB, base + budgetKiB) << run.peakKiB << " KiB at most";
        }
    }
}

TEST_F(HostileFiles, TheWholeProcessPeaksWithinTheBudget) {
    // The promise counts everything the process holds, its own code and libraries included:
    // on the tool as it ships (the sanitizers' shadow memory is no part of it), with no
    // allowance for the process, each case peaks within 64 x file + 64 MiB.
    const std::vector<CaseFile> corpus = WriteCorpus(dir);
    for (const CaseFile& c : corpus) {
        SCOPED_TRACE(c.name);
        const long budgetKiB = static_cast<long>(tr4::MemoryBudget::ForFile(c.size).Limit() >> 10);
        for (const char* command : {"info", "meshes"}) {
            const ToolRun run = Spawn(TR4TOOL_UNSANITIZED, {command, "--json", c.file}, dir);
            EXPECT_EQ(run.status, c.opens && c.refusedBy != command ? 0 : 1) << run.err;
            EXPECT_LE(run.peakKiB, budgetKiB) << command << ": " << run.peakKiB << " KiB";
        }
    }
}

TEST_F(HostileFiles, ALargeRealLevelIsExportedWholeWithinItsBudget) {
    // The real level's meshes forty times over: the export's estimate of its memory must stay
    // above what it takes (the budget is a promise) without refusing a level it can export.
    const fs::path file = dir / "large.tr4";
    if (fork() == 0) {
        tr4::Level real;
        if (!tr4::LoadLevelFile(TR4_REAL_LEVEL, real)) _exit(1);
        tr4test::WriteFile(file.string(),
                           tr4test::BuildLevelFile(tr4test::RealMeshesRepeated(real, 40)));
        _exit(0);
    }
    int raw = 0;
    wait(&raw);
    ASSERT_TRUE(fs::exists(file)) << "cannot read " << TR4_REAL_LEVEL;
    const long budgetKiB =
        static_cast<long>(tr4::MemoryBudget::ForFile(fs::file_size(file)).Limit() >> 10);
    const ToolRun run =
        Spawn(TR4TOOL_UNSANITIZED, {"export", file, "--all", "-o", dir / "large.glb"}, dir);
    EXPECT_EQ(run.status, 0) << run.err;
    const uint64_t written = fs::file_size(dir / "large.glb");
    EXPECT_GT(written, 30u << 20);
    EXPECT_LE(run.peakKiB, budgetKiB) << run.peakKiB << " KiB";
    // And its memory follows what it writes: at most twice the file besides what the load takes.
    tr4::LoadedLevel loaded;
    ASSERT_TRUE(tr4::LoadLevel(file.string(), loaded));
    const long followsKiB = static_cast<long>((2 * written + loaded.budget.Peak()) >> 10);
    EXPECT_LE(run.peakKiB, followsKiB) << run.peakKiB << " KiB";
}

TEST_F(HostileFiles, FifoIsRefusedWithoutWaitingForAWriter) {
    const fs::path fifo = dir / "pipe.tr4";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    for (const char* command : {"info", "meshes"}) {
        // Nobody ever writes to the pipe: a tool that opened it to read would wait forever.
        const ToolRun run = Spawn(TR4TOOL, {command, fifo}, dir);
        EXPECT_EQ(run.status, 1);
        EXPECT_EQ(run.err, "tr4tool: " + fifo.string() +
                               ": cannot open: it is a pipe (FIFO), not a regular file\n");
    }
}

TEST_F(HostileFiles, RunningOutOfMemoryIsAnErrorNotAnAbort) {
    // A valid level whose 24 MiB of texture pages are inside its budget, under an address-space
    // limit too low to hold them.
    tr4test::LevelPlan plan = tr4test::DemoLevel();
    plan.pages32 = tr4test::Bytes(24u << 20, 0x40);
    const fs::path file = Write("big-pages.tr4", tr4test::BuildLevelFile(plan));
    const ToolRun free = Spawn(TR4TOOL_UNSANITIZED, {"info", file}, dir);
    ASSERT_EQ(free.status, 0) << free.err;
    const ToolRun run = Spawn(TR4TOOL_UNSANITIZED, {"info", file}, dir, rlim_t{32} << 20);
    EXPECT_EQ(run.status, 1) << run.err;
    EXPECT_EQ(run.err, "tr4tool: " + file.string() + ": out of memory\n");
}

// Levels of a few kilobytes whose objects ask the export for hundreds of megabytes: the export
// is charged to the file's budget like the load, and so is what it writes.
TEST_F(HostileFiles, ExportsAreChargedToTheBudget) {
    const fs::path small = Write("small.tr4", tr4test::BuildLevelFile(tr4test::DemoLevel()));
    const long base =
        Spawn(TR4TOOL, {"export", small, "--all", "-o", dir / "small.glb"}, dir).peakKiB;
    // Made in a child process, as the corpus: the plans would count in every child forked here.
    const fs::path meshes = dir / "meshes.tr4", parts = dir / "parts.tr4";
    if (const pid_t pid = fork(); pid == 0) {
        tr4test::LevelPlan manyMeshes = tr4test::DemoLevel();
        manyMeshes.meshes.assign(200000, tr4test::MeshPlan{});
        tr4test::WriteFile(meshes.string(), tr4test::BuildLevelFile(manyMeshes));
        tr4test::LevelPlan manyParts = tr4test::DemoLevel();
        manyParts.meshPointers = std::vector<uint32_t>(65536, 0);  // every part names mesh 0
        manyParts.moveables.emplace();
        for (uint32_t id = 0; id < 256; ++id)
            manyParts.moveables->push_back({id, 65535, 0, 0, 0, 0});
        tr4test::WriteFile(parts.string(), tr4test::BuildLevelFile(manyParts));
        _exit(0);
    } else {
        int raw = 0;
        waitpid(pid, &raw, 0);
    }
    const std::string out = (dir / "out").string(), glb = (dir / "out.glb").string();
    for (const std::vector<std::string>& args :
         std::vector<std::vector<std::string>>{{meshes, "--all", "-o", glb},
                                               {meshes, "--objects", out},
                                               {parts, "--moveable", "0", "-o", glb},
                                               {parts, "--objects", out, "--format", "gltf"}}) {
        SCOPED_TRACE(args[0] + " " + args[1]);
        std::vector<std::string> command{"export"};
        command.insert(command.end(), args.begin(), args.end());
        const ToolRun run = Spawn(TR4TOOL, command, dir);
        EXPECT_EQ(run.status, 1) << run.err;
        EXPECT_NE(LastLine(run.err).find("budget"), std::string::npos) << run.err;
        EXPECT_FALSE(fs::exists(glb));
        EXPECT_TRUE(!fs::exists(out) || fs::is_empty(out));
        const long budgetKiB =
            static_cast<long>(tr4::MemoryBudget::ForFile(fs::file_size(args[0])).Limit() >> 10);
        EXPECT_LE(run.peakKiB, base + budgetKiB) << run.peakKiB << " KiB at most";
    }
}

// Objects a level may hold that consumers choke on or that used to be lost: two moveables with
// one id, a chain of parts deeper than importers recurse, a level without meshes.
TEST_F(HostileFiles, ExportKeepsEveryObjectAndBoundsItsDepth) {
    tr4test::LevelPlan plan = tr4test::DemoLevel();
    const uint16_t parts = 300;
    plan.meshPointers = std::vector<uint32_t>(parts, 0);
    // Each part hangs from the one before it, 10 units further along z.
    plan.meshTrees.emplace();
    for (int k = 1; k < parts; ++k) plan.meshTrees->insert(plan.meshTrees->end(), {0, 0, 0, 10});
    plan.moveables = {{5, parts, 0, 0, 0, 0}, {5, 2, 0, 0, 0, 0}};
    const fs::path file = Write("same-ids.tr4", tr4test::BuildLevelFile(plan));
    const ToolRun run = Spawn(TR4TOOL, {"export", file, "--objects", dir / "objects"}, dir);
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_NE(run.err.find("2 records share the id of moveable 5"), std::string::npos) << run.err;
    // Parts 64, 128, 192 and 256 would be 65 levels below their nearest flattened ancestor.
    EXPECT_NE(run.err.find("4 part(s) deeper than 64 levels"), std::string::npos) << run.err;
    const std::string first = Slurp(dir / "objects" / "moveable-5.glb");
    const std::string second = Slurp(dir / "objects" / "moveable-5-2.glb");
    EXPECT_NE(first.find("moveable 5 part 299"), std::string::npos);
    EXPECT_NE(second.find("moveable 5 (2) part 1"), std::string::npos);
    EXPECT_EQ(second.find("part 2"), std::string::npos);
    // Part 256 hangs from the object where the chain put it, 256 x 10 units along z: 2.5 metres.
    EXPECT_NE(first.find("\"translation\":[0.0,0.0,2.5]"), std::string::npos);

    // The demo level's rooms, placements and items are byte patterns: faces that name vertices the
    // room lacks, a static id, a moveable and an alternate room that do not exist. Each costs a
    // warning and that one element.
    const ToolRun damaged =
        Spawn(TR4TOOL,
              {"export", Write("demo.tr4", tr4test::BuildLevelFile(tr4test::DemoLevel())),
               "--level", "-o", dir / "damaged.glb"},
              dir);
    EXPECT_EQ(damaged.status, 0) << damaged.err;
    for (const char* warning : {"room 0: 2 face(s) name a vertex outside the room and are left out",
                                "room 0 static 0: no static has id", "item 0: no moveable has id",
                                "room 0: its alternate room"})
        EXPECT_NE(damaged.err.find(warning), std::string::npos) << warning << " in " << damaged.err;
    EXPECT_TRUE(fs::file_size(dir / "damaged.glb") > 0);

    tr4test::LevelPlan none = tr4test::DemoLevel();
    none.meshes.clear();
    const fs::path empty = Write("no-meshes.tr4", tr4test::BuildLevelFile(none));
    const ToolRun nothing =
        Spawn(TR4TOOL, {"export", empty, "--all", "-o", dir / "none.gltf"}, dir);
    EXPECT_EQ(nothing.status, 0) << nothing.err;
    const std::string json = Slurp(dir / "none.gltf");
    EXPECT_NE(json.find("\"scenes\":[{\"name\":\"empty\"}]"), std::string::npos) << json;
}

// Animations a level gets wrong: keyframes too small for the parts, keyframes past the frames,
// commands past their table, a moveable with none. Each costs a warning; what can be read is
// exported.
TEST_F(HostileFiles, DamagedAnimationsKeepWhatCanBeRead) {
    const fs::path file =
        Write("animations.tr4", tr4test::BuildLevelFile(tr4test::DamagedAnimations()));

    const ToolRun one = Spawn(
        TR4TOOL, {"export", file, "--moveable", "1", "--animations", "-o", dir / "one.gltf"}, dir);
    ASSERT_EQ(one.status, 0) << one.err;
    for (const char* warning : {"animation 0: keyframe 0 ends before the rotation of part 1",
                                "animation 1: keyframe 0 lies outside the frames",
                                "animation 2: its state changes or commands run past their tables"})
        EXPECT_NE(one.err.find(warning), std::string::npos) << warning << " in " << one.err;
    const std::string json = Slurp(dir / "one.gltf");
    EXPECT_NE(json.find("\"name\":\"animation 2\""), std::string::npos);
    EXPECT_EQ(json.find("\"name\":\"animation 0\""), std::string::npos);

    const ToolRun none = Spawn(
        TR4TOOL, {"export", file, "--moveable", "2", "--animations", "-o", dir / "none.glb"}, dir);
    EXPECT_EQ(none.status, 0) << none.err;
    EXPECT_NE(none.err.find("moveable 2: it has no animations"), std::string::npos) << none.err;
    const ToolRun all =
        Spawn(TR4TOOL, {"export", file, "--objects", dir / "all", "--animations"}, dir);
    EXPECT_EQ(all.status, 0) << all.err;
}

}  // namespace
