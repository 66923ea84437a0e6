// Render figures, each against a baseline measured in the same run, offscreen at the viewer's
// panel size of 321 x 385. Only ratios mean anything on a shared machine. Wall-clock time is used:
// a software rasterizer draws on worker threads that the main thread's CPU time would not see.
//
//   frame   one viewer frame of the real level's largest mesh (clear, world transform, draw,
//           present), centred so that it covers the panel, against an empty frame (clear and
//           present only)                                                    target: at most 3
//   build   creating all texture pages and building and uploading all render meshes of the real
//           level against its LoadLevelFile                                   target: at most 0.5
//   faces   the viewer's whole open of a 7 KB level holding one mesh of 65,534 faces (load,
//           decode, pages, render meshes, one frame of that mesh) against the same for the real
//           level: work in proportion to the data                            target: at most 2
#include <benchmark/benchmark.h>

#include <cstdio>
#include <functional>
#include <memory>
#include <string>

#include <QGuiApplication>

#include "BestOfRuns.h"
#include "BuildRenderMeshes.h"
#include "HostileLevels.h"
#include "LevelLoader.h"
#include "LoadLevel.h"
#include "MeshList.h"
#include "MeshView.h"
#include "dxBuffer.h"
#include "dxDevice8.h"
#include "dxMain.h"
#include "trTextura.h"

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

    bool Make() {
        if (system.CreateDirect3D() != S_OK) return false;
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
        for (int i = 0; i < list->Count(); ++i) {
            const int faces = RenderMeshAt(*list, i)->GetFaceCount();
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

void BM_EmptyFrame(benchmark::State& state) {
    dxDevice8& device = *gScene->device;
    for (auto _ : state) {
        device.ClearFrame(1);
        benchmark::DoNotOptimize(device.PresentFrame());
    }
}

void BM_LargestMeshFrame(benchmark::State& state) {
    dxDevice8& device = *gScene->device;
    tr4::MeshRecord* record = nullptr;
    gScene->list->GetRecord(gScene->largest, record);
    dxBufferTextura* mesh = RenderMeshAt(*gScene->list, gScene->largest);
    AimAtMesh(device, *record);
    // The viewer's start view of the mesh: centred and fitted, so every face is rasterized.
    MeshView view;
    view.zoom = FitZoom(*record, ViewAspect(kViewPanelWidth, kViewPanelHeight));
    for (auto _ : state) {
        view.yaw += 0.01f;  // a turning mesh, as while dragging
        benchmark::DoNotOptimize(DrawMeshFrame(device, mesh, record, view));
    }
    state.counters["faces"] = gScene->largestFaces;
    int changes = 0;
    for (int f = 1; f < mesh->GetFaceCount(); ++f)
        changes += mesh->GetFaceTexture(f) != mesh->GetFaceTexture(f - 1);
    state.counters["pageChanges"] = changes;  // drawn in one call all the same
}

void BM_LoadLevelFile(benchmark::State& state) {
    for (auto _ : state) {
        tr4::Level level;
        benchmark::DoNotOptimize(tr4::LoadLevelFile(kRealLevel, level));
    }
}

void BM_CreatePagesAndBuildMeshes(benchmark::State& state) {
    dxDevice8& device = *gScene->device;
    tr4::Level& level = gScene->level;
    for (auto _ : state) {
        auto pages = std::make_unique<trTextura>(level);
        pages->CreatePages32(&device);
        BuildRenderMeshes(gScene->list.get(), &device, pages.get(), level);
        // Releasing this load's meshes and pages belongs to the next load; keep it out.
        state.PauseTiming();
        gScene->list->MakeRenderMeshSlots();
        pages.reset();
        state.ResumeTiming();
    }
}

// A level from its bytes to a frame of its mesh 0, as the viewer opens and shows it.
void OpenAndDraw(benchmark::State& state, const std::function<bool(tr4::LoadedLevel&)>& load) {
    dxDevice8& device = *gScene->device;
    for (auto _ : state) {
        tr4::LoadedLevel loaded;
        if (!load(loaded) || !loaded.meshes) {
            state.SkipWithError(loaded.error.c_str());
            return;
        }
        auto pages = std::make_unique<trTextura>(*loaded.level);
        pages->CreatePages32(&device);
        BuildRenderMeshes(loaded.meshes.get(), &device, pages.get(), *loaded.level);
        tr4::MeshRecord* record = nullptr;
        loaded.meshes->GetRecord(0, record);
        AimAtMesh(device, *record);
        MeshView view;
        view.zoom = FitZoom(*record, ViewAspect(kViewPanelWidth, kViewPanelHeight));
        DrawMeshFrame(device, RenderMeshAt(*loaded.meshes, 0), record, view);
        benchmark::DoNotOptimize(device.ReadFrame());
        loaded.meshes.reset();
        pages.reset();
    }
}

void BM_OpenRealLevel(benchmark::State& state) {
    OpenAndDraw(state, [](tr4::LoadedLevel& out) { return tr4::LoadLevel(kRealLevel, out); });
}

void BM_OpenFaceBomb(benchmark::State& state) {
    static const tr4test::Bytes file = tr4test::BuildLevelFile(tr4test::FaceBomb(1));
    OpenAndDraw(state, [](tr4::LoadedLevel& out) {
        return tr4::LoadLevelImage(file.data(), file.size(), out);
    });
    state.counters["faces"] = 65534;
}

BENCHMARK(BM_EmptyFrame)->UseRealTime()->MinTime(0.5)->Repetitions(5);
BENCHMARK(BM_LargestMeshFrame)->UseRealTime()->MinTime(0.5)->Repetitions(5);
BENCHMARK(BM_LoadLevelFile)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond)
    ->MinTime(0.5)
    ->Repetitions(5);
BENCHMARK(BM_CreatePagesAndBuildMeshes)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond)
    ->MinTime(0.5)
    ->Repetitions(5);
BENCHMARK(BM_OpenRealLevel)->UseRealTime()->Unit(benchmark::kMillisecond)->Repetitions(3);
BENCHMARK(BM_OpenFaceBomb)->UseRealTime()->Unit(benchmark::kMillisecond)->Repetitions(3);

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
    // Frames finish on the GPU side of the driver: wall time is what a person waits for.
    BestOfRuns best(BestOfRuns::Clock::Wall);
    benchmark::RunSpecifiedBenchmarks(&best);
    auto ratio = [&](const char* a, const char* b) { return best.Ratio(a, b); };
    std::printf("\nlargest-mesh frame / empty frame         %.3f   target <= 3\n",
                ratio("BM_LargestMeshFrame", "BM_EmptyFrame"));
    std::printf("pages + render meshes / LoadLevelFile    %.3f   target <= 0.5\n",
                ratio("BM_CreatePagesAndBuildMeshes", "BM_LoadLevelFile"));
    std::printf("open 65,534-face mesh / open real level  %.3f   target <= 2\n",
                ratio("BM_OpenFaceBomb", "BM_OpenRealLevel"));
    gScene = nullptr;
    benchmark::Shutdown();
    return 0;
}
