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
#include <benchmark/benchmark.h>

#include <cstdio>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "LevelLoader.h"
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

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    std::printf("\n");
    paired::Print("export --all / (info + PNG of every page)", "export", 2);
    paired::Print("export --level / (info + PNG of the pages it uses)", "level", 1.5);
    paired::Print("export --moveable 0 --animations / info", "animated", 2);
    paired::Print("export --all / info", "all/info", 3);
    paired::Print("export --level / info", "level/info", 2);
    paired::Print("pages / info", "pages/info", 3);
    benchmark::Shutdown();
    return 0;
}
