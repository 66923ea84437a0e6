// Render figures, each against a baseline measured in the same run, offscreen at the viewer's
// panel size of 321 x 385. Only ratios mean anything on a shared machine. Wall-clock time is used:
// a software rasterizer draws on worker threads that the main thread's CPU time would not see.
//
//   frame   one viewer frame of the real level's largest mesh (clear, world transform, draw,
//           present), centred so that it covers the panel, against an empty frame (clear and
//           present only)                                                    target: at most 3
//   build   creating all texture pages and building and uploading all render meshes of the real
//           level against its LoadLevelFile                                   target: at most 0.5
#include <benchmark/benchmark.h>

#include <cstdio>
#include <memory>
#include <string>

#include <QGuiApplication>

#include "BestOfRuns.h"
#include "BuildRenderMeshes.h"
#include "LevelLoader.h"
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
        if (!tr4::LoadLevelFile(kRealLevel, level)) return false;
        tr4::DecodeMeshes(reinterpret_cast<const uint8_t*>(level.meshData.data()),
                          static_cast<uint32_t>(level.meshData.size() * 2), list);
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
    gScene = nullptr;
    benchmark::Shutdown();
    return 0;
}
