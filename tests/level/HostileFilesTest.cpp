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
#include <vector>

#include "HostileLevels.h"
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

}  // namespace
