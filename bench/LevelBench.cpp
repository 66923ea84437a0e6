// Level reading figures, each a ratio against a baseline timed in alternation with it (see
// Paired.h), on the thread's CPU time: the reader runs on this thread alone.
//
//   load      LoadLevel (read, decompress, parse, decode) of the real level against the floor of
//   reading the file
//             and zlib-uncompressing its four chunks into buffers of their stated sizes
//             (target: at most 0.6), and against the same floor with libdeflate (at most 1.1)
//   decode    DecodeMeshes of all its meshes against LoadLevelFile (target: at most 0.05)
//   scaling   load plus decode of levels of the real level's meshes repeated, about 1,000 to
//             50,000 meshes, a line fitted through the times: its slope (time per mesh), its
//             intercept (time per level) and its R squared, how much of the time the line
//             explains (target: at least 0.99); and the time per mesh at 50,000 meshes against
//             that at 1,000 (target: at most 1, no dearer per mesh for being many)
//   memory    peak resident size of `tr4tool info` on the real level against 1.5 x (decompressed
//             chunk bytes + file size) + 8 MiB, read from the kernel's rusage of the child
#include <benchmark/benchmark.h>
#include <libdeflate.h>
#include <malloc.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "LevelLoader.h"
#include "LevelWriter.h"
#include "LoadLevel.h"
#include "MeshList.h"
#include "Paired.h"

namespace {

const char* const kRealLevel = TR4_REAL_LEVEL;

tr4test::Bytes ReadWhole(const char* path) {
    tr4test::Bytes file;
    FILE* f = std::fopen(path, "rb");
    if (!f) return file;
    std::fseek(f, 0, SEEK_END);
    const long size = std::ftell(f);
    std::fseek(f, 0, SEEK_SET);
    file.resize(static_cast<size_t>(size));
    file.resize(std::fread(file.data(), 1, file.size(), f));
    std::fclose(f);
    return file;
}

// The least any loader must do: read the file, then inflate each chunk into a buffer of its
// stated size, with zlib or with libdeflate.
template <class Inflate>
size_t ReadAndInflate(const char* path, Inflate inflate) {
    const tr4test::Bytes file = ReadWhole(path);
    size_t at = 10, produced = 0;
    for (int chunk = 0; chunk < 4 && at + 8 <= file.size(); ++chunk) {
        uint32_t stated, packed;
        std::memcpy(&stated, &file[at], 4);
        std::memcpy(&packed, &file[at + 4], 4);
        at += 8;
        if (packed > file.size() - at) break;
        tr4test::Bytes out(stated);
        produced += inflate(out, &file[at], packed);
        at += packed;
    }
    return produced;
}

size_t FloorZlib(const char* path) {
    return ReadAndInflate(path, [](tr4test::Bytes& out, const uint8_t* in, uint32_t packed) {
        uLongf length = out.size();
        uncompress(out.data(), &length, in, packed);
        return static_cast<size_t>(length);
    });
}

size_t FloorLibdeflate(const char* path) {
    static libdeflate_decompressor* d = libdeflate_alloc_decompressor();
    return ReadAndInflate(path, [](tr4test::Bytes& out, const uint8_t* in, uint32_t packed) {
        size_t length = 0;
        libdeflate_zlib_decompress(d, in, packed, out.data(), out.size(), &length);
        return length;
    });
}

// The one load entry point: read, decompress, parse and decode.
int LoadAndDecode(const char* path) {
    tr4::LoadedLevel loaded;
    tr4::LoadLevel(path, loaded);
    return loaded.meshes ? loaded.meshes->Count() : 0;
}

constexpr int kPairs = 40;

void BM_LoadAndDecode_vs_ZlibFloor(benchmark::State& state) {
    paired::Run(
        state, "load/zlib", paired::Clock::ThreadCpu,
        [] { benchmark::DoNotOptimize(LoadAndDecode(kRealLevel)); },
        [] { benchmark::DoNotOptimize(FloorZlib(kRealLevel)); });
}
BENCHMARK(BM_LoadAndDecode_vs_ZlibFloor)
    ->UseManualTime()
    ->Iterations(kPairs)
    ->Unit(benchmark::kMillisecond);

void BM_LoadAndDecode_vs_LibdeflateFloor(benchmark::State& state) {
    paired::Run(
        state, "load/libdeflate", paired::Clock::ThreadCpu,
        [] { benchmark::DoNotOptimize(LoadAndDecode(kRealLevel)); },
        [] { benchmark::DoNotOptimize(FloorLibdeflate(kRealLevel)); });
}
BENCHMARK(BM_LoadAndDecode_vs_LibdeflateFloor)
    ->UseManualTime()
    ->Iterations(kPairs)
    ->Unit(benchmark::kMillisecond);

void BM_Decode_vs_Load(benchmark::State& state) {
    tr4::Level level;
    tr4::LoadLevelFile(kRealLevel, level);
    paired::Run(
        state, "decode/load", paired::Clock::ThreadCpu,
        [&] {
            std::unique_ptr<tr4::Lista_Mesh> list;
            tr4::DecodeMeshes(reinterpret_cast<const uint8_t*>(level.meshData.data()),
                              level.meshDataWordCount * 2, list);
            benchmark::DoNotOptimize(list->Count());
        },
        [] {
            tr4::Level other;
            benchmark::DoNotOptimize(tr4::LoadLevelFile(kRealLevel, other));
        });
}
BENCHMARK(BM_Decode_vs_Load)->UseManualTime()->Iterations(kPairs)->Unit(benchmark::kMillisecond);

// Scaling: every iteration loads and decodes each level once, the sizes in turn, so a busy spell
// spreads over all of them instead of bending the line at one size. The levels are the real
// level's meshes over again (whole copies, so about these many meshes): their mix of sizes, as
// opposed to identical small cubes, is what a reader meets.
const int kSizes[] = {1000, 5000, 10000, 25000, 50000};
std::vector<std::vector<double>> gScaling(std::size(kSizes));
std::vector<int> gMeshes(std::size(kSizes));  // what each level really holds

void BM_ScalingRound(benchmark::State& state) {
    // Read whole: the copies are made of its mesh words, which LoadLevel lets go once decoded.
    tr4::Level real;
    std::unique_ptr<tr4::Lista_Mesh> meshes;
    if (!tr4::LoadLevelFile(kRealLevel, real) ||
        tr4::DecodeMeshes(reinterpret_cast<const uint8_t*>(real.meshData.data()),
                          tr4::MeshDataBytes(real), meshes) != 1 ||
        meshes->Count() == 0) {
        state.SkipWithError("cannot read the level");
        return;
    }
    const int perCopy = meshes->Count();
    std::vector<tr4test::Bytes> files;
    for (size_t i = 0; i < std::size(kSizes); ++i) {
        const int copies = std::max(1, (kSizes[i] + perCopy / 2) / perCopy);
        tr4test::LevelPlan plan = tr4test::RealMeshesRepeated(real, copies);
        // Tiny pages keep the per-level constant out of the per-mesh figure.
        plan.pages32 = plan.pages16 = plan.miscPages = tr4test::Bytes(4, 0);
        files.push_back(tr4test::BuildLevelFile(plan));
        gMeshes[i] = copies * perCopy;
    }
    real = tr4::Level{};
    meshes.reset();
    for (auto _ : state) {
        double total = 0;
        for (size_t i = 0; i < files.size(); ++i) {
            const double t0 = paired::Now(paired::Clock::ThreadCpu);
            tr4::LoadedLevel loaded;
            tr4::LoadLevelImage(files[i].data(), files[i].size(), loaded);
            benchmark::DoNotOptimize(loaded.meshes->Count());
            const double t = paired::Now(paired::Clock::ThreadCpu) - t0;
            gScaling[i].push_back(t);
            total += t;
        }
        state.SetIterationTime(total);
    }
}
BENCHMARK(BM_ScalingRound)->UseManualTime()->Iterations(15)->Unit(benchmark::kMillisecond);

// Least squares through (meshes, seconds): slope, intercept and R squared.
struct Line {
    double slope = 0, intercept = 0, r2 = 0;
};
Line Fit(const std::vector<double>& x, const std::vector<double>& y) {
    const double n = static_cast<double>(x.size());
    double sx = 0, sy = 0, sxx = 0, sxy = 0;
    for (size_t i = 0; i < x.size(); ++i) {
        sx += x[i];
        sy += y[i];
        sxx += x[i] * x[i];
        sxy += x[i] * y[i];
    }
    Line line;
    line.slope = (n * sxy - sx * sy) / (n * sxx - sx * sx);
    line.intercept = (sy - line.slope * sx) / n;
    double residual = 0, spread = 0;
    for (size_t i = 0; i < x.size(); ++i) {
        const double predicted = line.intercept + line.slope * x[i];
        residual += (y[i] - predicted) * (y[i] - predicted);
        spread += (y[i] - sy / n) * (y[i] - sy / n);
    }
    line.r2 = spread > 0 ? 1.0 - residual / spread : 0.0;
    return line;
}

void PrintScaling() {
    if (gScaling[0].empty()) return;
    std::vector<double> x, yMin, yMedian;
    for (size_t i = 0; i < std::size(kSizes); ++i) {
        x.push_back(gMeshes[i]);
        yMin.push_back(*std::min_element(gScaling[i].begin(), gScaling[i].end()));
        yMedian.push_back(paired::Median(gScaling[i]));
    }
    const Line median = Fit(x, yMedian), least = Fit(x, yMin);
    std::printf(
        "%-44s median %6.1f ns/mesh + %6.1f us  min %6.1f ns/mesh + %6.1f us  (%zu rounds)\n",
        "load + decode, fitted per mesh + per level", median.slope * 1e9, median.intercept * 1e6,
        least.slope * 1e9, least.intercept * 1e6, gScaling[0].size());
    std::printf("%-44s median %6.4f  min %6.4f  target >= 0.99  %s\n", "  R squared of the line",
                median.r2, least.r2, median.r2 >= 0.99 ? "ok" : "UNDER");
    for (size_t i = 0; i < x.size(); ++i)
        std::printf("  %5d meshes: median %7.1f ns per mesh, min %7.1f\n", gMeshes[i],
                    yMedian[i] / x[i] * 1e9, yMin[i] / x[i] * 1e9);
    // Per mesh, the largest level against the smallest, in each round (the same machine), and
    // the least times of each: above 1, a mesh costs more for being one of many.
    const size_t last = x.size() - 1;
    std::vector<double> ratios;
    for (size_t r = 0; r < gScaling[0].size() && r < gScaling[last].size(); ++r)
        ratios.push_back((gScaling[last][r] / x[last]) / (gScaling[0][r] / x[0]));
    const double growth = paired::Median(ratios);
    char label[64];
    std::snprintf(label, sizeof label, "time per mesh, %d / %d meshes", gMeshes[last], gMeshes[0]);
    std::printf("%-44s median %6.3f  min %6.3f  target <= 1  %s\n", label, growth,
                (yMin[last] / x[last]) / (yMin[0] / x[0]), growth <= 1 ? "ok" : "OVER");
}

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

void PrintMemory() {
    tr4::Level level;
    if (!tr4::LoadLevelFile(kRealLevel, level)) return;
    const double chunks =
        double(level.pages32Size) + level.pages16Size + level.miscPagesSize + level.levelDataSize;
    const double fileSize = double(ReadWhole(kRealLevel).size());
    const double budgetKb = (1.5 * (chunks + fileSize) + 8.0 * 1024 * 1024) / 1024;
    std::vector<double> ratios;
    for (int i = 0; i < 5; ++i) ratios.push_back(double(PeakKilobytesOfInfo()) / budgetKb);
    const double least = *std::min_element(ratios.begin(), ratios.end());
    const double median = paired::Median(ratios);
    std::printf("%-44s median %6.3f  min %6.3f  (budget %.0f KiB)  target <= 1  %s\n",
                "peak RSS of tr4tool info / budget", median, least, budgetKb,
                median <= 1 ? "ok" : "OVER");
}

}  // namespace

int main(int argc, char** argv) {
    // glibc raises its mmap threshold as large blocks are freed, so after a few iterations some
    // buffer sizes come back from the heap warm while larger ones are mapped afresh: the figures
    // would then compare two allocation policies instead of the reader. A fixed threshold gives
    // every size the same treatment, the one a single load in a fresh process gets.
    mallopt(M_MMAP_THRESHOLD, 128 * 1024);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    std::printf("\n");
    paired::Print("load + decode / zlib floor", "load/zlib", 0.6);
    paired::Print("load + decode / libdeflate floor", "load/libdeflate", 1.1);
    paired::Print("decode / load", "decode/load", 0.05);
    PrintScaling();
    PrintMemory();
    benchmark::Shutdown();
    return 0;
}
