// Render figures, each a ratio against a baseline timed in alternation with it (see Paired.h),
// offscreen at the viewer's panel size of 321 x 385. Wall-clock time: a software rasterizer draws
// on worker threads that the main thread's CPU time would not see.
//
//   frame   one viewer frame of the real level's largest mesh (clear, world transform, draw,
//           present), centred so that it covers the panel, against an empty frame (clear and
//           present only)                                                    target: at most 3
//   first   creating all texture pages and building and uploading all render meshes on a fresh
//           device, against the same on a device that held a level before, for the real level
//           and for a level of 35 pages (the real one with its pages repeated). A device makes
//           its page store (64 layers) with its context, before this figure starts: about 4 ms
//           of the driver zero-filling 16 MiB, which the viewer spends after its first paint
//                                                                            target: at most 1.2
//   build   the same on a device that held a level before, against the real level's LoadLevel
//           (read, decompress, parse, decode)                                target: at most 0.1
//   faces   the viewer's whole open of a 7 KB level holding one mesh of 65,534 faces (load,
//           decode, pages, render meshes, one frame of that mesh) against the same for the real
//           level: work in proportion to the data                            target: at most 2
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <memory>
#include <span>
#include <string>

#include <QGuiApplication>

#include "HostileLevels.h"
#include "LevelScene.h"
#include "LoadLevel.h"
#include "MeshView.h"
#include "Paired.h"
#include "dxDevice8.h"
#include "dxMain.h"

using namespace tr4;

namespace {

const char* const kRealLevel = TR4_REAL_LEVEL;

// The real level with its pages repeated up to 35.
void WidenPages(tr4::Level& level) {
    const size_t realPages = level.pages32Size >> 18;
    level.pages32.resize(35u << 18);
    for (size_t p = realPages; p < 35; ++p)
        std::copy_n(level.pages32.begin() + static_cast<long>((p % realPages) << 18), 1u << 18,
                    level.pages32.begin() + static_cast<long>(p << 18));
    level.pages32Size = 35u << 18;
}

struct Scene {
    dxMain system;
    std::unique_ptr<dxDevice8> device;
    ViewCamera camera{ViewerProjection(ViewAspect(kViewPanelWidth, kViewPanelHeight))};
    LevelScene real;
    int largest = -1;
    int largestFaces = 0;

    bool Make() {
        std::string why;
        if (!system.ProbeOpenGL(why)) return false;
        if (!system.CreateRenderDevice(nullptr, device, why,
                                       QSize(kViewPanelWidth, kViewPanelHeight)))
            return false;
        if (!real.Open(kRealLevel, PageDepth::Bits32, device.get(), why) || real.Count() < 1)
            return false;
        if ((real.Level()->pages32Size >> 18) == 0) return false;
        for (int i = 0; i < real.Count(); ++i) {
            const int faces = static_cast<int>(FacesOf(real.RenderMesh(i)).size());
            if (faces > largestFaces) {
                largestFaces = faces;
                largest = i;
            }
        }
        return true;
    }
};

Scene* gScene = nullptr;

constexpr int kPairs = 30;

// Viewer frames: clear and present only, or the largest mesh turning.
void EmptyFrame(dxDevice8& device) {
    device.ClearFrame(true);
    std::string why;
    benchmark::DoNotOptimize(device.PresentFrame(why));
}

void BM_LargestMeshFrame_vs_EmptyFrame(benchmark::State& state) {
    dxDevice8& device = *gScene->device;
    const tr4::MeshRecord* record = gScene->real.Record(gScene->largest);
    const dxVertexBuffer* mesh = gScene->real.RenderMesh(gScene->largest);
    // The viewer's start view of the mesh: centred and fitted, so every face is rasterized.
    MeshView view;
    view.zoom = FitZoom(*record, ViewAspect(kViewPanelWidth, kViewPanelHeight));
    std::string why;
    // Twenty frames a sample: one frame is too short for the clock's and the scheduler's grain.
    paired::Run(
        state, "frame", paired::Clock::Wall,
        [&] {
            for (int i = 0; i < 20; ++i) {
                view.rotationY += 0.01f;  // a turning mesh, as while dragging
                benchmark::DoNotOptimize(
                    DrawMeshFrame(device, gScene->camera, mesh, record, view, why));
            }
        },
        [&] {
            for (int i = 0; i < 20; ++i) EmptyFrame(device);
        });
    state.counters["faces"] = gScene->largestFaces;
    int changes = 0;
    const std::span<const GpuFace> faces = FacesOf(mesh);
    for (size_t f = 1; f < faces.size(); ++f) changes += faces[f].texture != faces[f - 1].texture;
    state.counters["pageChanges"] = changes;  // drawn in one call all the same
}
BENCHMARK(BM_LargestMeshFrame_vs_EmptyFrame)->UseManualTime()->Iterations(kPairs);

// Pages and render meshes of the real level (or its 35-page twin) on device, as the viewer makes
// them; the seconds that took. Reading the level comes before and releasing it after, both left
// out.
double BuildOn(dxDevice8& device, bool widePages) {
    tr4::LoadedLevel loaded;
    if (!tr4::LoadLevel(kRealLevel, loaded)) return -1;
    if (widePages) WidenPages(*loaded.level);
    LevelScene scene;
    scene.Adopt(std::move(loaded));
    std::string why;
    if (!scene.Reserve(PageDepth::Bits32, why)) return -1;
    const double t0 = paired::Now(paired::Clock::Wall);
    const bool built = scene.Build(device, why);
    const double t = paired::Now(paired::Clock::Wall) - t0;
    return built ? t : -1;
}

double BuildOnFreshDevice(bool widePages) {
    std::unique_ptr<dxDevice8> fresh;
    std::string why;
    if (!gScene->system.CreateRenderDevice(nullptr, fresh, why, QSize(321, 385))) return -1;
    return BuildOn(*fresh, widePages);
}

void BM_FirstBuild_vs_ReusedBuild(benchmark::State& state) {
    const bool wide = state.range(0) != 0;
    paired::Run(
        state, wide ? "first build 35" : "first build", paired::Clock::Wall,
        [&] { return BuildOnFreshDevice(wide); }, [&] { return BuildOn(*gScene->device, wide); });
}
BENCHMARK(BM_FirstBuild_vs_ReusedBuild)
    ->Arg(0)
    ->Arg(1)
    ->UseManualTime()
    ->Iterations(kPairs)
    ->Unit(benchmark::kMillisecond);

void BM_Build_vs_LoadLevel(benchmark::State& state) {
    paired::Run(
        state, "build", paired::Clock::Wall, [] { return BuildOn(*gScene->device, false); },
        [] {
            tr4::LoadedLevel loaded;
            benchmark::DoNotOptimize(tr4::LoadLevel(kRealLevel, loaded));
        });
}
BENCHMARK(BM_Build_vs_LoadLevel)
    ->UseManualTime()
    ->Iterations(kPairs)
    ->Unit(benchmark::kMillisecond);

// A level from its bytes to a frame of its mesh 0, as the viewer opens and shows it; the seconds
// that took.
double OpenAndDraw(const std::function<bool(LevelScene&, std::string&)>& load) {
    dxDevice8& device = *gScene->device;
    const double t0 = paired::Now(paired::Clock::Wall);
    double t = -1;
    {
        LevelScene scene;
        std::string why;
        if (!load(scene, why) || !scene.Reserve(PageDepth::Bits32, why) ||
            !scene.Build(device, why) || scene.Count() < 1)
            return -1;
        const tr4::MeshRecord* record = scene.Record(0);
        MeshView view;
        view.zoom = FitZoom(*record, ViewAspect(kViewPanelWidth, kViewPanelHeight));
        DrawMeshFrame(device, gScene->camera, scene.RenderMesh(0), record, view, why);
        benchmark::DoNotOptimize(device.ReadFrame());
        t = paired::Now(paired::Clock::Wall) - t0;
    }
    return t;
}

void BM_OpenFaceBomb_vs_OpenRealLevel(benchmark::State& state) {
    static const tr4test::Bytes file = tr4test::BuildLevelFile(tr4test::FaceBomb(1));
    paired::Run(
        state, "faces", paired::Clock::Wall,
        [] {
            return OpenAndDraw([](LevelScene& scene, std::string& why) {
                return scene.LoadImage(file.data(), file.size(), why);
            });
        },
        [] {
            return OpenAndDraw(
                [](LevelScene& scene, std::string& why) { return scene.Load(kRealLevel, why); });
        });
    state.counters["faces"] = 65534;
}
BENCHMARK(BM_OpenFaceBomb_vs_OpenRealLevel)
    ->UseManualTime()
    ->Iterations(10)
    ->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
    QGuiApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    Scene scene;
    if (!scene.Make()) {
        std::fprintf(stderr, "render_bench: no OpenGL device or no real level (%s)\n", kRealLevel);
        return 1;
    }
    gScene = &scene;
    std::printf("OpenGL renderer: %s (%s); largest mesh %d with %d faces\n",
                scene.system.RendererString().c_str(), scene.system.VersionString().c_str(),
                scene.largest, scene.largestFaces);
    benchmark::RunSpecifiedBenchmarks();
    std::printf("\n");
    paired::Print("largest-mesh frame / empty frame", "frame", 3);
    paired::Print("first build / reused build, real level", "first build", 1.2);
    paired::Print("first build / reused build, 35 pages", "first build 35", 1.2);
    paired::Print("pages + render meshes / LoadLevel", "build", 0.1);
    paired::Print("open 65,534-face mesh / open real level", "faces", 2);
    gScene = nullptr;
    benchmark::Shutdown();
    return 0;
}
