// Export figure, against a baseline measured in the same run (the machines are noisy, so only
// the ratio means anything):
//
//   export    `tr4tool export LEVEL --all -o OUT.glb` of the real level, against `tr4tool info`
//             of it plus the PNG encoding of all its pages: what any export must at least do is
//             read the level and encode its pages (target: below 2)
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

#include "BestOfRuns.h"
#include "LevelLoader.h"
#include "MeshFaces.h"
#include "PagePng.h"

extern char** environ;

namespace {

const char* const kRealLevel = TR4_REAL_LEVEL;

// Runs tr4tool with arguments, its output thrown away, and waits for it.
bool RunTool(std::vector<std::string> args) {
    args.insert(args.begin(), TR4TOOL);
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    pid_t pid = 0;
    const int started = posix_spawn(&pid, TR4TOOL, &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (started != 0) return false;
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

std::string OutputPath() {
    return "/tmp/tr4-export-bench-" + std::to_string(getpid()) + ".glb";
}

void BM_Baseline_Info(benchmark::State& state) {
    for (auto _ : state)
        if (!RunTool({"info", kRealLevel})) state.SkipWithError("tr4tool info failed");
}
BENCHMARK(BM_Baseline_Info)->Unit(benchmark::kMillisecond)->UseRealTime()->Repetitions(3);

void BM_Baseline_EncodePages(benchmark::State& state) {
    tr4::Level level;
    if (!tr4::LoadLevelFile(kRealLevel, level)) {
        state.SkipWithError("cannot read the level");
        return;
    }
    std::vector<uint8_t> png;
    for (auto _ : state) {
        for (int page = 0; page < tr4::PageCount(level); ++page) {
            tr4export::EncodePagePng(level, page, png);
            benchmark::DoNotOptimize(png.data());
        }
    }
}
BENCHMARK(BM_Baseline_EncodePages)->Unit(benchmark::kMillisecond)->UseRealTime()->Repetitions(3);

void BM_ExportAll(benchmark::State& state) {
    const std::string out = OutputPath();
    for (auto _ : state)
        if (!RunTool({"export", kRealLevel, "--all", "-o", out}))
            state.SkipWithError("tr4tool export failed");
    std::remove(out.c_str());
}
BENCHMARK(BM_ExportAll)->Unit(benchmark::kMillisecond)->UseRealTime()->Repetitions(3);

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    // Wall time: the work happens in child processes.
    BestOfRuns best(BestOfRuns::Clock::Wall);
    benchmark::RunSpecifiedBenchmarks(&best);
    auto& ns = best.ns;
    if (ns.count("BM_ExportAll") && ns.count("BM_Baseline_Info") &&
        ns.count("BM_Baseline_EncodePages")) {
        const double baseline = ns["BM_Baseline_Info"] + ns["BM_Baseline_EncodePages"];
        std::printf("\nexport --all / (info + PNG of every page)   %.3f   target < 2\n",
                    ns["BM_ExportAll"] / baseline);
    }
    benchmark::Shutdown();
    return 0;
}
