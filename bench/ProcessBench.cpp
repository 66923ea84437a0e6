// Whole-process figures, each a ratio against a baseline process timed in alternation with it
// (see Paired.h), on wall-clock time: a person waits for the whole process. Needs a display.
//
//   render --all   (`tr4tool render FILE --all DIR` - `tr4tool render FILE 0 -o OUT`) / meshes,
//                  the time a picture of one more mesh adds, against `tr4tool info FILE`
//                  (target: at most 0.1; the build before pictures were encoded on a thread of
//                  their own with faster settings took 0.32 of today's info a mesh, 9.9 ms, and
//                  a third of that is the aim)
//   window         launch of tr4viewer until its window is mapped, against the same for a bare
//                  QWidget window of the same size                         (target: at most 1.5)
//   memory         resident size of the viewer that opened the real level and then the small
//                  sample, against a fresh viewer that opened only the sample (target: at most
//                  1.1)
//
// TR4_BENCH_TR4TOOL and TR4_BENCH_TR4VIEWER, when set, name other builds of the two programs to
// time instead (an older build, for a before-and-after figure).
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>
#include <xcb/xcb.h>

#include <cstdio>
#include <cstdlib>
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

// Seconds from launching the program until the display maps a top-level window of it; the
// program is then ended. The display is watched through its root window, which is told of every
// top-level window mapped.
double SecondsToMapped(const char* program) {
    xcb_connection_t* c = xcb_connect(nullptr, nullptr);
    if (xcb_connection_has_error(c)) {
        xcb_disconnect(c);
        return -1;
    }
    const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(c)).data->root;
    const uint32_t mask = XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY;
    xcb_change_window_attributes(c, root, XCB_CW_EVENT_MASK, &mask);
    xcb_flush(c);
    free(xcb_get_input_focus_reply(c, xcb_get_input_focus(c), nullptr));  // the mask is in place

    std::vector<char*> argv{const_cast<char*>(program), nullptr};
    pid_t pid = 0;
    const double t0 = paired::Now(paired::Clock::Wall);
    double t = -1;
    if (posix_spawn(&pid, program, nullptr, nullptr, argv.data(), environ) == 0) {
        while (xcb_generic_event_t* e = xcb_wait_for_event(c)) {
            const bool mapped = (e->response_type & 0x7F) == XCB_MAP_NOTIFY &&
                                !reinterpret_cast<xcb_map_notify_event_t*>(e)->override_redirect;
            free(e);
            if (mapped) {
                t = paired::Now(paired::Clock::Wall) - t0;
                break;
            }
        }
        kill(pid, SIGTERM);
        waitpid(pid, nullptr, 0);
    }
    xcb_disconnect(c);
    return t;
}

void BM_ViewerMapped_vs_PlainWindowMapped(benchmark::State& state) {
    paired::Run(
        state, "window", paired::Clock::Wall, [] { return SecondsToMapped(kViewer); },
        [] { return SecondsToMapped(PLAIN_WINDOW); });
}
// 60 pairs: a launch is ~50 ms, and with 15 the median moved by 0.2 between runs on a busy
// machine.
BENCHMARK(BM_ViewerMapped_vs_PlainWindowMapped)
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
    paired::Print("render --all, per mesh / tr4tool info", "render --all", 0.1);
    paired::Print("viewer mapped / bare QWidget mapped", "window", 1.5);
    paired::Print("viewer after large then small / small only", "memory", 1.1);
    benchmark::Shutdown();
    return 0;
}
