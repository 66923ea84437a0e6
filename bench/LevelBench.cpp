// Level reading figures, each against a baseline measured in the same run: the machines are
// noisy, so only ratios mean anything.
//
//   load      LoadLevelFile of the real level against reading the file and uncompressing its four
//             chunks and nothing else (target: at most 1.15)
//   decode    DecodeMeshes of all its meshes against that load (target: at most 0.05)
//   scaling   load plus decode of generated levels of 1,000, 10,000 and 50,000 meshes: time per
//             mesh within 25% across the three
//   memory    peak resident size of `tr4tool info` on the real level against 1.5 x (decompressed
//             chunk bytes + file size) + 8 MiB, read from the kernel's rusage of the child
#include <benchmark/benchmark.h>
#include <malloc.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <zlib.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

#include "BestOfRuns.h"
#include "LevelLoader.h"
#include "LevelWriter.h"
#include "LoadLevel.h"
#include "MeshList.h"

namespace {

const char* const kRealLevel = TR4_REAL_LEVEL;

// The least any loader must do: read the file, then inflate each chunk into a buffer of its size.
size_t ReadAndUncompress(const char* path) {
    FILE* f = std::fopen(path, "rb");
    if (!f) return 0;
    std::fseek(f, 0, SEEK_END);
    const long size = std::ftell(f);
    std::fseek(f, 0, SEEK_SET);
    tr4test::Bytes file(static_cast<size_t>(size));
    const size_t got = std::fread(file.data(), 1, file.size(), f);
    std::fclose(f);
    size_t at = 10, produced = 0;
    for (int chunk = 0; chunk < 4 && at + 8 <= got; ++chunk) {
        uint32_t stated, packed;
        std::memcpy(&stated, &file[at], 4);
        std::memcpy(&packed, &file[at + 4], 4);
        at += 8;
        tr4test::Bytes out(stated);
        uLongf length = stated;
        uncompress(out.data(), &length, &file[at], packed);
        at += packed;
        produced += length;
    }
    return produced;
}

void BM_Baseline_ReadAndUncompress(benchmark::State& state) {
    for (auto _ : state) benchmark::DoNotOptimize(ReadAndUncompress(kRealLevel));
}
BENCHMARK(BM_Baseline_ReadAndUncompress)
    ->Unit(benchmark::kMillisecond)
    ->MinTime(0.5)
    ->Repetitions(3);

void BM_LoadLevelFile(benchmark::State& state) {
    for (auto _ : state) {
        tr4::Level level;
        tr4::LoadLevelFile(kRealLevel, level);
        benchmark::DoNotOptimize(level.levelDataSize);
    }
}
BENCHMARK(BM_LoadLevelFile)->Unit(benchmark::kMillisecond)->MinTime(0.5)->Repetitions(3);

void BM_DecodeMeshes(benchmark::State& state) {
    tr4::Level level;
    tr4::LoadLevelFile(kRealLevel, level);
    for (auto _ : state) {
        std::unique_ptr<tr4::Lista_Mesh> list;
        tr4::DecodeMeshes(reinterpret_cast<const uint8_t*>(level.meshData.data()),
                          level.meshDataWordCount * 2, list);
        benchmark::DoNotOptimize(list->Count());
    }
}
BENCHMARK(BM_DecodeMeshes)->Unit(benchmark::kMillisecond)->MinTime(0.5)->Repetitions(3);

void BM_LoadAndDecodeGenerated(benchmark::State& state) {
    tr4test::LevelPlan plan = tr4test::ManyMeshes(static_cast<int>(state.range(0)));
    // Tiny pages keep the per-level constant out of the per-mesh figure.
    plan.pages32 = plan.pages16 = plan.miscPages = tr4test::Bytes(4, 0);
    const tr4test::Bytes file = tr4test::BuildLevelFile(plan);
    for (auto _ : state) {
        tr4::LoadedLevel loaded;
        tr4::LoadLevelImage(file.data(), file.size(), loaded);
        benchmark::DoNotOptimize(loaded.meshes->Count());
    }
    state.counters["meshes"] = static_cast<double>(state.range(0));
}
BENCHMARK(BM_LoadAndDecodeGenerated)
    ->Arg(1000)
    ->Arg(10000)
    ->Arg(50000)
    ->Unit(benchmark::kMillisecond)
    ->MinTime(0.5)
    ->Repetitions(5);

// Peak resident kilobytes of `tr4tool info FILE`, as the kernel counted them.
long PeakKilobytesOfInfo() {
    std::fflush(stdout);
    const pid_t child = fork();
    if (child == 0) {
        std::freopen("/dev/null", "w", stdout);
        execl(TR4TOOL, TR4TOOL, "info", kRealLevel, static_cast<char*>(nullptr));
        _exit(127);
    }
    int status = 0;
    struct rusage usage {};
    if (child < 0 || wait4(child, &status, 0, &usage) < 0) return -1;
    return usage.ru_maxrss;
}

}  // namespace

int main(int argc, char** argv) {
    // glibc raises its mmap threshold as large blocks are freed, so after a few iterations some
    // buffer sizes come back from the heap warm while larger ones are mapped afresh: the per-mesh
    // figures would then compare two allocation policies instead of the reader. A fixed threshold
    // gives every size the same treatment, the one a single load in a fresh process gets.
    mallopt(M_MMAP_THRESHOLD, 128 * 1024);
    benchmark::Initialize(&argc, argv);
    // CPU time: the reader runs on this thread alone, and CPU time is less disturbed than wall
    // time by whatever else the machine runs.
    BestOfRuns best(BestOfRuns::Clock::Cpu);
    benchmark::RunSpecifiedBenchmarks(&best);
    auto& ns = best.ns;
    auto ratio = [&](const char* a, const char* b) { return best.Ratio(a, b); };
    std::printf("\nload / baseline (read + uncompress)      %.3f   target <= 1.15\n",
                ratio("BM_LoadLevelFile", "BM_Baseline_ReadAndUncompress"));
    std::printf("decode / load                            %.3f   target <= 0.05\n",
                ratio("BM_DecodeMeshes", "BM_LoadLevelFile"));
    double low = 1e300, high = 0;
    for (int n : {1000, 10000, 50000}) {
        const std::string name = "BM_LoadAndDecodeGenerated/" + std::to_string(n);
        if (!ns.count(name)) continue;
        const double perMesh = ns[name] / n;
        low = std::min(low, perMesh);
        high = std::max(high, perMesh);
        std::printf("load + decode, %5d meshes: %8.1f ns per mesh\n", n, perMesh);
    }
    if (high > 0)
        std::printf("per-mesh spread (slowest / fastest)      %.3f   target <= 1.25\n", high / low);

    tr4::Level level;
    if (tr4::LoadLevelFile(kRealLevel, level)) {
        const double chunks = double(level.pages32Size) + level.pages16Size + level.miscPagesSize +
                              level.levelDataSize;
        const double fileSize = double(tr4test::ReadFile(kRealLevel).size());
        const double budgetKb = (1.5 * (chunks + fileSize) + 8.0 * 1024 * 1024) / 1024;
        const long peakKb = PeakKilobytesOfInfo();
        std::printf(
            "peak RSS of tr4tool info: %ld KiB; budget %.0f KiB; ratio %.3f   target <= 1\n",
            peakKb, budgetKb, double(peakKb) / budgetKb);
    }
    benchmark::Shutdown();
    return 0;
}
