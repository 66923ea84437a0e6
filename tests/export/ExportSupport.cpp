#include "ExportSupport.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <cstring>
#include <filesystem>

namespace exporttest {

const RealLevel* Real() {
    static std::unique_ptr<RealLevel> real = [] {
        auto r = std::make_unique<RealLevel>();
        tr4::LoadReport report;
        if (tr4::LoadLevelFile(TR4_REAL_LEVEL, r->level, &report) != 1 || !report.Readable())
            return std::unique_ptr<RealLevel>();
        tr4::DecodeMeshes(reinterpret_cast<const uint8_t*>(r->level.meshData.data()),
                          static_cast<uint32_t>(r->level.meshData.size() * 2), r->list);
        return r->list ? std::move(r) : std::unique_ptr<RealLevel>();
    }();
    EXPECT_TRUE(real) << "cannot read " << TR4_REAL_LEVEL;
    return real.get();
}

bool ExportAndRead(const tr4export::ExportRequest& request, const std::string& fileName,
                   tinygltf::Model& out) {
    const RealLevel* real = Real();
    if (!real) return false;
    tinygltf::Model model;
    std::vector<std::string> warnings;
    std::string error;
    EXPECT_TRUE(
        tr4export::BuildModel(real->level, real->list.get(), request, model, warnings, error))
        << error;
    const std::string path = (std::filesystem::path(::testing::TempDir()) / fileName).string();
    if (!tr4export::WriteModel(model, path, request.binary, error)) {
        ADD_FAILURE() << error;
        return false;
    }
    tinygltf::TinyGLTF gltf;
    std::string warn;
    const bool read = request.binary ? gltf.LoadBinaryFromFile(&out, &error, &warn, path)
                                     : gltf.LoadASCIIFromFile(&out, &error, &warn, path);
    EXPECT_TRUE(read) << error;
    EXPECT_EQ(warn, "");
    std::filesystem::remove(path);
    return read;
}

namespace {

const uint8_t* Element(const tinygltf::Model& model, const tinygltf::Accessor& a, size_t i,
                       size_t size) {
    const tinygltf::BufferView& v = model.bufferViews[a.bufferView];
    const size_t stride = v.byteStride ? v.byteStride : size;
    return model.buffers[v.buffer].data.data() + v.byteOffset + a.byteOffset + i * stride;
}

}  // namespace

std::vector<float> Floats(const tinygltf::Model& model, int accessor) {
    const tinygltf::Accessor& a = model.accessors[accessor];
    const int n = tinygltf::GetNumComponentsInType(a.type);
    std::vector<float> out(a.count * n);
    for (size_t i = 0; i < a.count; ++i)
        std::memcpy(&out[i * n], Element(model, a, i, 4 * n), 4 * n);
    return out;
}

std::vector<uint32_t> Indices(const tinygltf::Model& model, int accessor) {
    const tinygltf::Accessor& a = model.accessors[accessor];
    std::vector<uint32_t> out(a.count);
    const bool narrow = a.componentType == TINYGLTF_COMPONENT_TYPE_UNSIGNED_SHORT;
    for (size_t i = 0; i < a.count; ++i) {
        if (narrow) {
            uint16_t v;
            std::memcpy(&v, Element(model, a, i, 2), 2);
            out[i] = v;
        } else {
            std::memcpy(&out[i], Element(model, a, i, 4), 4);
        }
    }
    return out;
}

}  // namespace exporttest
