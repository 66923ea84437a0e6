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
#include <string>

#include <QGuiApplication>

#include "BuildRenderMeshes.h"
#include "HostileLevels.h"
#include "LevelLoader.h"
#include "LoadLevel.h"
#include "MeshList.h"
#include "MeshView.h"
#include "Paired.h"
#include "dxBufferColor8.h"
#include "dxDevice8.h"
#include "dxMain.h"
#include "trTextura.h"

using namespace tr4;

namespace {

const char* const kRealLevel = TR4_REAL_LEVEL;

struct Scene {
    dxMain system;
    std::unique_ptr<dxDevice8> device;
    tr4::Level level;
    std::unique_ptr<tr4::Lista_Mesh> list;
    std::unique_ptr<trTextura> pages;
    int largest = -1;
    int largestFaces = 0;
    tr4::Level widePages;  // the real level with 35 pages

    bool Make() {
        if (system.ProbeOpenGL() != S_OK) return false;
        if (system.CreateRenderDevice(nullptr, 1, device,
                                      QSize(kViewPanelWidth, kViewPanelHeight)) != S_OK)
            return false;
        SetViewerProjection(*device, ViewAspect(kViewPanelWidth, kViewPanelHeight));
        tr4::LoadedLevel loaded;
        if (!tr4::LoadLevel(kRealLevel, loaded)) return false;
        level = std::move(*loaded.level);
        list = std::move(loaded.meshes);
        if (!list || list->Count() < 1) return false;
        pages = std::make_unique<trTextura>(level);
        pages->CreatePages32(device.get());
        BuildRenderMeshes(list.get(), device.get(), pages.get(), level);
        widePages = level;
        const size_t realPages = level.pages32Size >> 18;
        if (realPages == 0) return false;
        widePages.pages32.resize(35u << 18);
        for (size_t p = realPages; p < 35; ++p)
            std::copy_n(level.pages32.begin() + static_cast<long>((p % realPages) << 18), 1u << 18,
                        widePages.pages32.begin() + static_cast<long>(p << 18));
        widePages.pages32Size = 35u << 18;
        for (int i = 0; i < list->Count(); ++i) {
            const int faces = TexturedMeshAt(*list, i)->GetFaceCount();
            if (faces > largestFaces) {
                largestFaces = faces;
                largest = i;
            }
        }
        return true;
    }
    ~Scene() {
        list.reset();
        pages.reset();
        device.reset();
    }
};

Scene* gScene = nullptr;

constexpr int kPairs = 30;

// Viewer frames: clear and present only, or the largest mesh turning.
void EmptyFrame(dxDevice8& device) {
    device.ClearFrame(1);
    benchmark::DoNotOptimize(device.PresentFrame());
}

void BM_LargestMeshFrame_vs_EmptyFrame(benchmark::State& state) {
    dxDevice8& device = *gScene->device;
    tr4::MeshRecord* record = nullptr;
    gScene->list->GetRecord(gScene->largest, record);
    dxBufferTextura* mesh = TexturedMeshAt(*gScene->list, gScene->largest);
    AimAtMesh(device, *record);
    // The viewer's start view of the mesh: centred and fitted, so every face is rasterized.
    MeshView view;
    view.zoom = FitZoom(*record, ViewAspect(kViewPanelWidth, kViewPanelHeight));
    // Twenty frames a sample: one frame is too short for the clock's and the scheduler's grain.
    paired::Run(
        state, "frame", paired::Clock::Wall,
        [&] {
            for (int i = 0; i < 20; ++i) {
                view.rotationY += 0.01f;  // a turning mesh, as while dragging
                benchmark::DoNotOptimize(DrawMeshFrame(device, mesh, record, view));
            }
        },
        [&] {
            for (int i = 0; i < 20; ++i) EmptyFrame(device);
        });
    state.counters["faces"] = gScene->largestFaces;
    int changes = 0;
    for (int f = 1; f < mesh->GetFaceCount(); ++f)
        changes += mesh->GetFaceTexture(f) != mesh->GetFaceTexture(f - 1);
    state.counters["pageChanges"] = changes;  // drawn in one call all the same
}
BENCHMARK(BM_LargestMeshFrame_vs_EmptyFrame)->UseManualTime()->Iterations(kPairs);

// Pages and render meshes of level (the real one or its 35-page twin) on device; the seconds
// that took. Releasing them belongs to the next load and is left out.
double BuildOn(dxDevice8& device, const tr4::Level& level) {
    const double t0 = paired::Now(paired::Clock::Wall);
    auto pages = std::make_unique<trTextura>(level);
    pages->CreatePages32(&device);
    BuildRenderMeshes(gScene->list.get(), &device, pages.get(), level);
    const double t = paired::Now(paired::Clock::Wall) - t0;
    gScene->list->MakeRenderMeshSlots();
    pages.reset();
    return t;
}

double BuildOnFreshDevice(const tr4::Level& level) {
    std::unique_ptr<dxDevice8> fresh;
    if (gScene->system.CreateRenderDevice(nullptr, 1, fresh, QSize(321, 385)) != S_OK) return -1;
    SetViewerProjection(*fresh, 1.0f);
    const double t = BuildOn(*fresh, level);
    fresh.reset();
    return t;
}

void BM_FirstBuild_vs_ReusedBuild(benchmark::State& state) {
    const tr4::Level& level = state.range(0) ? gScene->widePages : gScene->level;
    paired::Run(
        state, state.range(0) ? "first build 35" : "first build", paired::Clock::Wall,
        [&] { return BuildOnFreshDevice(level); }, [&] { return BuildOn(*gScene->device, level); });
}
BENCHMARK(BM_FirstBuild_vs_ReusedBuild)
    ->Arg(0)
    ->Arg(1)
    ->UseManualTime()
    ->Iterations(kPairs)
    ->Unit(benchmark::kMillisecond);

void BM_Build_vs_LoadLevel(benchmark::State& state) {
    paired::Run(
        state, "build", paired::Clock::Wall, [] { return BuildOn(*gScene->device, gScene->level); },
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
double OpenAndDraw(const std::function<bool(tr4::LoadedLevel&)>& load) {
    dxDevice8& device = *gScene->device;
    const double t0 = paired::Now(paired::Clock::Wall);
    tr4::LoadedLevel loaded;
    if (!load(loaded) || !loaded.meshes) return -1;
    auto pages = std::make_unique<trTextura>(*loaded.level);
    pages->CreatePages32(&device);
    BuildRenderMeshes(loaded.meshes.get(), &device, pages.get(), *loaded.level);
    tr4::MeshRecord* record = nullptr;
    loaded.meshes->GetRecord(0, record);
    AimAtMesh(device, *record);
    MeshView view;
    view.zoom = FitZoom(*record, ViewAspect(kViewPanelWidth, kViewPanelHeight));
    DrawMeshFrame(device, TexturedMeshAt(*loaded.meshes, 0), record, view);
    benchmark::DoNotOptimize(device.ReadFrame());
    const double t = paired::Now(paired::Clock::Wall) - t0;
    loaded.meshes.reset();
    pages.reset();
    return t;
}

void BM_OpenFaceBomb_vs_OpenRealLevel(benchmark::State& state) {
    static const tr4test::Bytes file = tr4test::BuildLevelFile(tr4test::FaceBomb(1));
    paired::Run(
        state, "faces", paired::Clock::Wall,
        [] {
            return OpenAndDraw([](tr4::LoadedLevel& out) {
                return tr4::LoadLevelImage(file.data(), file.size(), out);
            });
        },
        [] {
            return OpenAndDraw(
                [](tr4::LoadedLevel& out) { return tr4::LoadLevel(kRealLevel, out); });
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
