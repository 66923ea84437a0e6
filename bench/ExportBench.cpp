// Export figure, a ratio against a baseline timed in alternation with it (see Paired.h), on
// wall-clock time (the work happens in child processes):
//
//   export    `tr4tool export LEVEL --all -o OUT.glb` of the real level, against `tr4tool info`
//             of it plus the PNG encoding of all its pages: what any export must at least do is
//             read the level and encode its pages (target: below 2)
//   level     `tr4tool export LEVEL --level -o OUT.glb` of the real level, against `tr4tool info`
//             plus the PNG encoding of the pages its faces use (target: below 1.5)
//   animated  `tr4tool export LEVEL --moveable 0 --animations -o OUT.glb`, the player whole with
//             her 302 animations, against `tr4tool info` (target: below 2)
//   all/info, level/info, pages/info
//             the same commands and `tr4tool pages`, against `tr4tool info` alone (targets: 3, 2
//             and 3): the reader is at the compressor's floor, and the export should follow it
//   memory    peak resident size of `tr4tool export LEVEL --all -o OUT.glb` against 2 x the file
//             it wrote + what loading LEVEL takes from its memory budget, on levels of the real
//             level's meshes 1, 10 and 100 times over, with its pages and object textures
//             (target: at most 1 at every size): the export's memory should follow its output
#include <benchmark/benchmark.h>
#include <malloc.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "LevelLoader.h"
#include "LevelWriter.h"
#include "LoadLevel.h"
#include "MeshFaces.h"
#include "PagePng.h"
#include "Paired.h"
#include "RunQuietly.h"
#include "World.h"

extern char** environ;

namespace {

const char* const kRealLevel = TR4_REAL_LEVEL;

// Runs tr4tool with arguments, its output thrown away, and waits for it.
bool RunTool(std::vector<std::string> args) {
    args.insert(args.begin(), TR4TOOL);
    return tr4bench::RunQuietly(std::move(args)) == 0;
}

std::string OutputPath() {
    return "/tmp/tr4-export-bench-" + std::to_string(getpid()) + ".glb";
}

// command against `tr4tool info` plus the PNG encoding of pages: what any export must at least
// do is read the level and encode the pages it uses.
void AgainstInfoAndPages(benchmark::State& state, const char* name,
                         const std::vector<std::string>& command, const tr4::Level& level,
                         const std::set<int>& pages) {
    std::vector<uint8_t> png;
    paired::Run(
        state, name, paired::Clock::Wall,
        [&] {
            if (!RunTool(command)) state.SkipWithError("the export failed");
        },
        [&] {
            if (!RunTool({"info", kRealLevel})) state.SkipWithError("tr4tool info failed");
            for (int page : pages) {
                tr4export::EncodePagePng(level, page, png);
                benchmark::DoNotOptimize(png.data());
            }
        });
}

void BM_ExportAll_vs_InfoAndPages(benchmark::State& state) {
    tr4::Level level;
    if (!tr4::LoadLevelFile(kRealLevel, level)) {
        state.SkipWithError("cannot read the level");
        return;
    }
    std::set<int> every;
    for (int page = 0; page < tr4::PageCount(level); ++page) every.insert(page);
    const std::string out = OutputPath();
    AgainstInfoAndPages(state, "export", {"export", kRealLevel, "--all", "-o", out}, level, every);
    std::remove(out.c_str());
}
BENCHMARK(BM_ExportAll_vs_InfoAndPages)
    ->UseManualTime()
    ->Iterations(10)
    ->Unit(benchmark::kMillisecond);

void BM_ExportLevel_vs_InfoAndPagesUsed(benchmark::State& state) {
    tr4::Level level;
    if (!tr4::LoadLevelFile(kRealLevel, level)) {
        state.SkipWithError("cannot read the level");
        return;
    }
    // The pages the rooms' faces draw from (the items and statics use the same ones).
    std::set<int> used;
    for (const tr4::RoomRecord& room : level.rooms)
        for (const tr4::RoomFace& f : tr4::RoomFaces(room)) {
            tr4::MeshFace face;
            face.quad = f.quad;
            if (tr4::FaceTexture(level, f.ObjectTexture(), face) &&
                tr4export::HasPage(level, face.page))
                used.insert(face.page);
        }
    const std::string out = OutputPath();
    AgainstInfoAndPages(state, "level", {"export", kRealLevel, "--level", "-o", out}, level, used);
    std::remove(out.c_str());
}
BENCHMARK(BM_ExportLevel_vs_InfoAndPagesUsed)
    ->UseManualTime()
    ->Iterations(10)
    ->Unit(benchmark::kMillisecond);

void BM_ExportAnimated_vs_Info(benchmark::State& state) {
    const std::string out = OutputPath();
    paired::Run(
        state, "animated", paired::Clock::Wall,
        [&] {
            if (!RunTool({"export", kRealLevel, "--moveable", "0", "--animations", "-o", out}))
                state.SkipWithError("tr4tool export --animations failed");
        },
        [&] {
            if (!RunTool({"info", kRealLevel})) state.SkipWithError("tr4tool info failed");
        });
    std::remove(out.c_str());
}
BENCHMARK(BM_ExportAnimated_vs_Info)
    ->UseManualTime()
    ->Iterations(10)
    ->Unit(benchmark::kMillisecond);

// A command of tr4tool against `tr4tool info` of the real level.
void AgainstInfo(benchmark::State& state, const char* name, std::vector<std::string> command) {
    paired::Run(
        state, name, paired::Clock::Wall,
        [&] {
            if (!RunTool(command)) state.SkipWithError("the command failed");
        },
        [&] {
            if (!RunTool({"info", kRealLevel})) state.SkipWithError("tr4tool info failed");
        });
}

void BM_ExportAll_vs_Info(benchmark::State& state) {
    AgainstInfo(state, "all/info", {"export", kRealLevel, "--all", "-o", OutputPath()});
}
BENCHMARK(BM_ExportAll_vs_Info)->UseManualTime()->Iterations(10)->Unit(benchmark::kMillisecond);

void BM_ExportLevel_vs_Info(benchmark::State& state) {
    AgainstInfo(state, "level/info", {"export", kRealLevel, "--level", "-o", OutputPath()});
}
BENCHMARK(BM_ExportLevel_vs_Info)->UseManualTime()->Iterations(10)->Unit(benchmark::kMillisecond);

void BM_Pages_vs_Info(benchmark::State& state) {
    AgainstInfo(state, "pages/info",
                {"pages", kRealLevel, "/tmp/tr4-pages-bench-" + std::to_string(getpid())});
}
BENCHMARK(BM_Pages_vs_Info)->UseManualTime()->Iterations(10)->Unit(benchmark::kMillisecond);

// Peak resident kilobytes of tr4tool with args, as the kernel counted them, or -1 when it did
// not run to success (what it said on stderr is then in the file errors). Forked rather than
// spawned: a spawned child shares this process's memory until its exec and inherits its
// high-water mark, which would then be counted as the tool's. A forked child starts from what
// this process holds at the fork, which the caller keeps small.
long PeakKilobytesOf(const std::vector<std::string>& args, const std::string& errors) {
    std::vector<const char*> argv{TR4TOOL};
    for (const std::string& a : args) argv.push_back(a.c_str());
    argv.push_back(nullptr);
    std::fflush(stdout);
    const pid_t child = fork();
    if (child == 0) {
        std::freopen("/dev/null", "w", stdout);
        std::freopen(errors.c_str(), "w", stderr);
        execv(TR4TOOL, const_cast<char* const*>(argv.data()));
        _exit(127);
    }
    int status = 0;
    struct rusage usage {};
    if (child < 0 || wait4(child, &status, 0, &usage) < 0) return -1;
    return WIFEXITED(status) && WEXITSTATUS(status) == 0 ? usage.ru_maxrss : -1;
}

double FileBytes(const std::string& path) {
    struct stat st {};
    return stat(path.c_str(), &st) == 0 ? double(st.st_size) : -1.0;
}

constexpr double kMiB = 1024.0 * 1024.0;

// Memory follows the output: each size's level is written to /tmp, its load's budget figure
// taken here, then the export run in a child a few times.
void PrintExportMemory() {
    tr4::Level real;
    if (!tr4::LoadLevelFile(kRealLevel, real)) {
        std::printf("%-44s not measured: cannot read the level\n", "export --all memory");
        return;
    }
    const std::string stem = "/tmp/tr4-export-memory-" + std::to_string(getpid());
    const std::string out = stem + ".glb", errors = stem + ".err";
    constexpr int kRuns = 3;
    for (int copies : {1, 10, 100}) {
        const std::string path = stem + "-" + std::to_string(copies) + ".tr4";
        int meshes = 0;
        double budget = 0;
        {
            if (!tr4test::WriteFile(
                    path, tr4test::BuildLevelFile(tr4test::RealMeshesRepeated(real, copies)))) {
                std::printf("export --all memory, %3d x: cannot write %s\n", copies, path.c_str());
                continue;
            }
            tr4::LoadedLevel loaded;
            if (tr4::LoadLevel(path, loaded)) {
                meshes = loaded.meshes ? loaded.meshes->Count() : 0;
                budget = double(loaded.budget.Peak());
            }
        }
        // What the level cost here goes back to the system before the fork.
        malloc_trim(0);
        std::vector<double> peaks, ratios;
        double file = -1;
        for (int run = 0; run < kRuns && budget > 0; ++run) {
            const long peak = PeakKilobytesOf({"export", path, "--all", "-o", out}, errors);
            file = FileBytes(out);
            if (peak < 0 || file < 0) break;
            peaks.push_back(double(peak) * 1024);
            ratios.push_back(peaks.back() / (2 * file + budget));
        }
        char label[64];
        std::snprintf(label, sizeof label, "export --all memory, %3d x (%d meshes)", copies,
                      meshes);
        if (ratios.size() != size_t(kRuns)) {
            // A refusal is a figure too: the export cannot be had at this size.
            const tr4test::Bytes said = tr4test::ReadFile(errors);
            std::printf("%-44s not measured (target <= 1  OVER): %s\n", label,
                        budget > 0 ? std::string(said.begin(), said.end()).c_str()
                                   : "the level did not load\n");
        } else {
            const double median = paired::Median(ratios);
            std::printf(
                "%-44s peak %6.1f MiB  file %6.1f MiB  budget %6.1f MiB  median %6.3f  min "
                "%6.3f  target <= 1  %s\n",
                label, paired::Median(peaks) / kMiB, file / kMiB, budget / kMiB, median,
                *std::min_element(ratios.begin(), ratios.end()), median <= 1 ? "ok" : "OVER");
        }
        for (const std::string& made : {out, path, errors}) std::remove(made.c_str());
    }
}

}  // namespace

int main(int argc, char** argv) {
    // Large blocks are mapped and unmapped rather than kept in the heap, so that what the level
    // builder and the load held is gone before the memory figure forks its children.
    mallopt(M_MMAP_THRESHOLD, 128 * 1024);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    std::printf("\n");
    paired::Print("export --all / (info + PNG of every page)", "export", 2);
    paired::Print("export --level / (info + PNG of the pages it uses)", "level", 1.5);
    paired::Print("export --moveable 0 --animations / info", "animated", 2);
    paired::Print("export --all / info", "all/info", 3);
    paired::Print("export --level / info", "level/info", 2);
    paired::Print("pages / info", "pages/info", 3);
    PrintExportMemory();
    benchmark::Shutdown();
    return 0;
}
