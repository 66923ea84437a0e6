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

Matrix Local(const tinygltf::Node& n) {
    double t[3] = {0, 0, 0}, q[4] = {0, 0, 0, 1};
    for (size_t c = 0; c < 3 && n.translation.size() == 3; ++c) t[c] = n.translation[c];
    for (size_t c = 0; c < 4 && n.rotation.size() == 4; ++c) q[c] = n.rotation[c];
    const double x = q[0], y = q[1], z = q[2], w = q[3];
    return {1 - 2 * (y * y + z * z),
            2 * (x * y + z * w),
            2 * (x * z - y * w),
            0,
            2 * (x * y - z * w),
            1 - 2 * (x * x + z * z),
            2 * (y * z + x * w),
            0,
            2 * (x * z + y * w),
            2 * (y * z - x * w),
            1 - 2 * (x * x + y * y),
            0,
            t[0],
            t[1],
            t[2],
            1};
}

Matrix Times(const Matrix& a, const Matrix& b) {
    Matrix m{};
    for (int c = 0; c < 4; ++c)
        for (int r = 0; r < 4; ++r)
            for (int k = 0; k < 4; ++k) m[c * 4 + r] += a[k * 4 + r] * b[c * 4 + k];
    return m;
}

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
