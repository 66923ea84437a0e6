#include "GltfDraw.h"

#include <array>
#include <cstring>

#include "ExportSupport.h"

namespace exporttest {
namespace {

void AddNode(const tinygltf::Model& model, int node, const Matrix& parent, double toView,
             const std::vector<TexturePtr>& textures, MeshGeometry& out) {
    const tinygltf::Node& n = model.nodes[node];
    const Matrix world = Times(parent, Local(n));
    if (n.mesh >= 0) AddMesh(model, n.mesh, world, toView, textures, out);
    for (int child : n.children) AddNode(model, child, world, toView, textures, out);
}

}  // namespace

std::vector<TexturePtr> TexturesOf(dxDevice8& device, const tinygltf::Model& model) {
    std::vector<TexturePtr> textures;
    for (const tinygltf::Image& image : model.images) {
        if (image.component != 4 || image.bits != 8) {
            textures.push_back(nullptr);
            continue;
        }
        std::vector<uint8_t> bgra(image.image);
        for (size_t t = 0; t + 3 < bgra.size(); t += 4) std::swap(bgra[t], bgra[t + 2]);
        textures.push_back(device.CreateTextureFromPixels(image.width, image.height,
                                                          D3DFMT_A8R8G8B8, bgra.data()));
    }
    return textures;
}

void AddMesh(const tinygltf::Model& model, int mesh, const double offset[3], double toView,
             const std::vector<TexturePtr>& textures, MeshGeometry& out) {
    Matrix moved = Local(tinygltf::Node{});
    for (int c = 0; c < 3; ++c) moved[12 + c] = offset[c];
    AddMesh(model, mesh, moved, toView, textures, out);
}

void AddMesh(const tinygltf::Model& model, int mesh, const std::array<double, 16>& world,
             double toView, const std::vector<TexturePtr>& textures, MeshGeometry& out) {
    for (const tinygltf::Primitive& p : model.meshes[mesh].primitives) {
        if (p.mode != TINYGLTF_MODE_TRIANGLES || p.indices < 0) continue;
        const std::vector<float> pos = Floats(model, p.attributes.at("POSITION"));
        const auto uvAt = p.attributes.find("TEXCOORD_0");
        const std::vector<float> uv =
            uvAt == p.attributes.end() ? std::vector<float>() : Floats(model, uvAt->second);
        dxTexture* texture = nullptr;
        if (p.material >= 0) {
            const int t = model.materials[p.material].pbrMetallicRoughness.baseColorTexture.index;
            if (t >= 0) texture = textures[model.textures[t].source].get();
        }
        const std::vector<uint32_t> indices = Indices(model, p.indices);
        for (size_t f = 0; f + 2 < indices.size(); f += 3) {
            GpuVertex corners[3] = {};
            float xyz[3][3];
            for (int k = 0; k < 3; ++k) {
                const uint32_t i = indices[f + k];
                for (int c = 0; c < 3; ++c) xyz[k][c] = pos[3 * i + c];
                if (!uv.empty()) {
                    corners[k].u = uv[2 * i];
                    corners[k].v = uv[2 * i + 1];
                }
            }
            for (int k = 0; k < 3; ++k) {
                const double* m = world.data();
                const double p[3] = {
                    m[0] * xyz[k][0] + m[4] * xyz[k][1] + m[8] * xyz[k][2] + m[12],
                    m[1] * xyz[k][0] + m[5] * xyz[k][1] + m[9] * xyz[k][2] + m[13],
                    m[2] * xyz[k][0] + m[6] * xyz[k][1] + m[10] * xyz[k][2] + m[14]};
                corners[k].x = static_cast<float>(-p[0] * toView);
                corners[k].y = static_cast<float>(p[1] * toView);
                corners[k].z = static_cast<float>(p[2] * toView);
            }
            AppendFace(out, corners, texture, kDrawCullCW);
        }
    }
}

tinygltf::Model Posed(const tinygltf::Model& model, const std::string& animation, size_t k) {
    tinygltf::Model posed = model;
    for (const tinygltf::Animation& a : model.animations) {
        if (a.name != animation) continue;
        for (const tinygltf::AnimationChannel& c : a.channels) {
            const std::vector<float> values = Floats(model, a.samplers[c.sampler].output);
            const size_t n = c.target_path == "rotation" ? 4 : 3;
            tinygltf::Node& node = posed.nodes[c.target_node];
            std::vector<double>& into = n == 4 ? node.rotation : node.translation;
            into.assign(values.begin() + k * n, values.begin() + (k + 1) * n);
        }
    }
    return posed;
}

void ReverseFaces(MeshGeometry& mesh) {
    MeshGeometry reversed;
    reversed.vertices.reserve(mesh.vertices.size());
    reversed.faces.reserve(mesh.faces.size());
    for (auto f = mesh.faces.rbegin(); f != mesh.faces.rend(); ++f) {
        GpuFace& face = reversed.faces.emplace_back(*f);
        face.first = static_cast<int>(reversed.vertices.size());
        reversed.vertices.insert(reversed.vertices.end(), mesh.vertices.begin() + f->first,
                                 mesh.vertices.begin() + f->first + f->count);
    }
    mesh = std::move(reversed);
}

void AddScene(const tinygltf::Model& model, double toView, const std::vector<TexturePtr>& textures,
              MeshGeometry& out) {
    const int scene = model.defaultScene >= 0 ? model.defaultScene : 0;
    for (int node : model.scenes[scene].nodes)
        AddNode(model, node, Local(tinygltf::Node{}), toView, textures, out);
}

}  // namespace exporttest
