// Whole-process figures, each a ratio against a baseline process timed in alternation with it
// (see Paired.h), on wall-clock time: a person waits for the whole process. Needs a display.
//
//   render --all   (`tr4tool render FILE --all DIR` - `tr4tool render FILE 0 -o OUT`) / meshes,
//                  the time a picture of one more mesh adds, against `tr4tool info FILE`
//                  (target: at most 0.05, so that the PNG writer does not set the pace; the
//                  build before pictures were encoded on a thread of their own took 0.32)
//   window         launch of `tr4viewer LEVEL` until its first frame with the mesh list filled
//                  is on screen, against a bare Qt window of the same size drawing one OpenGL
//                  frame; both pinned to the same CPU, so the figure does not depend on what
//                  the other core is doing                                 (target: at most 1.5)
//   memory         resident size of the viewer that opened the real level and then the small
//                  sample, against a fresh viewer that opened only the sample (target: at most
//                  1.1)
//
// TR4_BENCH_TR4TOOL and TR4_BENCH_TR4VIEWER, when set, name other builds of the two programs to
// time instead (an older build, for a before-and-after figure).
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <poll.h>
#include <sched.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "Paired.h"
#include "RunQuietly.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;

const char* const kRealLevel = TR4_REAL_LEVEL;

const char* Program(const char* variable, const char* built) {
    const char* other = std::getenv(variable);
    return other && *other ? other : built;
}
const char* const kTool = Program("TR4_BENCH_TR4TOOL", TR4TOOL);
const char* const kViewer = Program("TR4_BENCH_TR4VIEWER", TR4VIEWER);

using tr4bench::RunQuietly;

double Seconds(const std::vector<std::string>& args) {
    const double t0 = paired::Now(paired::Clock::Wall);
    if (RunQuietly(args) != 0) std::fprintf(stderr, "process_bench: %s failed\n", args[0].c_str());
    return paired::Now(paired::Clock::Wall) - t0;
}

void BM_RenderAllPerMesh_vs_Info(benchmark::State& state) {
    const fs::path dir = fs::temp_directory_path() / ("tr4bench-" + std::to_string(getpid()));
    const std::string all = (dir / "all").string(), one = (dir / "one.png").string();
    paired::Run(
        state, "render --all", paired::Clock::Wall,
        [&] {
            fs::remove_all(dir);
            const double tAll = Seconds({kTool, "render", kRealLevel, "--all", all});
            const double tOne = Seconds({kTool, "render", kRealLevel, "0", "-o", one});
            int meshes = 0;
            for ([[maybe_unused]] const auto& entry : fs::directory_iterator(all)) ++meshes;
            return meshes > 0 ? (tAll - tOne) / meshes : -1.0;
        },
        [&] {
            return Seconds({kTool, "info", kRealLevel});
        });
    fs::remove_all(dir);
}
BENCHMARK(BM_RenderAllPerMesh_vs_Info)
    ->UseManualTime()
    ->Iterations(8)
    ->Unit(benchmark::kMillisecond);

// The first CPU this process may run on: both sides of the window figure run there, so neither
// gains from a second core (the viewer's font thread) nor loses to a busier one.
int FirstAllowedCpu() {
    cpu_set_t allowed;
    CPU_ZERO(&allowed);
    if (sched_getaffinity(0, sizeof allowed, &allowed) == 0)
        for (int cpu = 0; cpu < CPU_SETSIZE; ++cpu)
            if (CPU_ISSET(cpu, &allowed)) return cpu;
    return 0;
}

// Seconds from launching args[0] with args, pinned to one CPU, until it reports through
// TR4_REPORT_FRAME_FD that its first frame is on screen (the viewer: the first one with the mesh
// list filled; see shell/FrameReport.h); the program is then ended. -1 when it ends, or a minute
// passes, without reporting.
double SecondsToFirstFrame(std::vector<std::string> args) {
    static const int cpu = FirstAllowedCpu();
    int report[2];
    if (pipe2(report, O_CLOEXEC) != 0) return -1;
    // Everything the child needs is made before the fork: it only pins itself and runs.
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    std::string variable = "TR4_REPORT_FRAME_FD=" + std::to_string(report[1]);
    std::vector<char*> envp;
    for (char** e = environ; *e; ++e)
        if (std::strncmp(*e, "TR4_REPORT_FRAME_FD=", 20) != 0) envp.push_back(*e);
    envp.push_back(variable.data());
    envp.push_back(nullptr);
    cpu_set_t one;
    CPU_ZERO(&one);
    CPU_SET(cpu, &one);

    const double t0 = paired::Now(paired::Clock::Wall);
    const pid_t pid = fork();
    if (pid == 0) {
        const int devNull = open("/dev/null", O_WRONLY);
        dup2(devNull, 1);
        dup2(devNull, 2);
        if (sched_setaffinity(0, sizeof one, &one) != 0 ||
            fcntl(report[1], F_SETFD, 0) != 0)  // the write end alone is inherited
            _exit(127);
        execve(argv[0], argv.data(), envp.data());
        _exit(127);
    }
    close(report[1]);
    double t = -1;
    if (pid > 0) {
        pollfd ready{report[0], POLLIN, 0};
        char byte = 0;
        if (poll(&ready, 1, 60000) == 1 && read(report[0], &byte, 1) == 1)
            t = paired::Now(paired::Clock::Wall) - t0;
        kill(pid, SIGTERM);
        waitpid(pid, nullptr, 0);
    }
    close(report[0]);
    if (t < 0) std::fprintf(stderr, "process_bench: %s reported no frame\n", args[0].c_str());
    return t;
}

void BM_ViewerFirstFrame_vs_PlainGlFrame(benchmark::State& state) {
    paired::Run(
        state, "window", paired::Clock::Wall,
        [] {
            return SecondsToFirstFrame({kViewer, kRealLevel});
        },
        [] { return SecondsToFirstFrame({PLAIN_WINDOW}); });
}
// 60 pairs: a launch is ~50 ms, and with 15 the median moved by 0.2 between runs on a busy
// machine.
BENCHMARK(BM_ViewerFirstFrame_vs_PlainGlFrame)
    ->UseManualTime()
    ->Iterations(60)
    ->Unit(benchmark::kMillisecond);

// The resident KiB viewer_memory prints after opening the files, or -1.
double ViewerKilobytes(std::vector<std::string> args) {
    args.insert(args.begin(), VIEWER_MEMORY);
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    int out[2];
    if (pipe(out) != 0) return -1;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    posix_spawn_file_actions_addclose(&actions, out[0]);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    pid_t pid = 0;
    const int spawned = posix_spawn(&pid, VIEWER_MEMORY, &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(out[1]);
    std::string text;
    char buffer[64];
    for (ssize_t n; spawned == 0 && (n = read(out[0], buffer, sizeof buffer)) > 0;)
        text.append(buffer, static_cast<size_t>(n));
    close(out[0]);
    if (spawned == 0) waitpid(pid, nullptr, 0);
    return text.empty() ? -1 : std::atof(text.c_str());
}

void BM_ViewerAfterSwap_vs_FreshViewer(benchmark::State& state) {
    // Sizes, not times: the "time" of each side is its resident KiB.
    paired::Run(
        state, "memory", paired::Clock::Wall,
        [] {
            return ViewerKilobytes({kRealLevel, TR4_SMALL_LEVEL});
        },
        [] { return ViewerKilobytes({TR4_SMALL_LEVEL}); });
}
BENCHMARK(BM_ViewerAfterSwap_vs_FreshViewer)->UseManualTime()->Iterations(3);

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    std::printf("\n");
    paired::Print("render --all, per mesh / tr4tool info", "render --all", 0.05);
    paired::Print("viewer first frame / bare Qt GL frame", "window", 1.5);
    paired::Print("viewer after large then small / small only", "memory", 1.1);
    benchmark::Shutdown();
    return 0;
}
