#include "GltfWriter.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <span>
#include <type_traits>
#include <vector>

#include "JsonOut.h"

namespace tr4export {

namespace {

constexpr std::string_view kBufferUri = "data:application/octet-stream;base64,";

bool Same(double a, double b) {
    return std::fabs(a - b) < 1e-12;
}

bool Same(const std::vector<double>& a, const std::vector<double>& b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (!Same(a[i], b[i])) return false;
    return true;
}

// A value as JSON; false (nothing written) for the kinds JSON cannot hold.
bool Writable(const tinygltf::Value& v) {
    return v.Type() != tinygltf::NULL_TYPE && v.Type() != tinygltf::BINARY_TYPE;
}

void WriteValue(JsonOut& j, const tinygltf::Value& v) {
    switch (v.Type()) {
        case tinygltf::REAL_TYPE:
            j.Real(v.Get<double>());
            break;
        case tinygltf::INT_TYPE:
            j.Int(v.Get<int>());
            break;
        case tinygltf::BOOL_TYPE:
            j.Bool(v.Get<bool>());
            break;
        case tinygltf::STRING_TYPE:
            j.Text(v.Get<std::string>());
            break;
        case tinygltf::ARRAY_TYPE:
            j.BeginArray();
            for (const tinygltf::Value& e : v.Get<tinygltf::Value::Array>())
                if (Writable(e)) WriteValue(j, e);
            j.EndArray();
            break;
        case tinygltf::OBJECT_TYPE:
            j.BeginObject();
            for (const auto& [key, e] : v.Get<tinygltf::Value::Object>()) {
                if (!Writable(e)) continue;
                j.AnyKey(key);
                WriteValue(j, e);
            }
            j.EndObject();
            break;
        default:
            break;
    }
}

void Extras(JsonOut& j, const tinygltf::Value& extras) {
    if (!Writable(extras)) return;
    j.Key("extras");
    WriteValue(j, extras);
}

// An extension whose value is empty or not JSON is still named, as an empty object.
void ExtensionMembers(JsonOut& j, const tinygltf::ExtensionMap& extensions) {
    for (const auto& [name, value] : extensions) {
        if (name.empty()) continue;
        j.AnyKey(name);
        const bool empty = !Writable(value) ||
                           (value.IsObject() && value.Get<tinygltf::Value::Object>().empty()) ||
                           (value.IsArray() && value.ArrayLen() == 0);
        if (empty)
            j.EmptyObject();
        else
            WriteValue(j, value);
    }
}

void Extensions(JsonOut& j, const tinygltf::ExtensionMap& extensions) {
    if (extensions.empty()) return;
    j.Key("extensions");
    j.BeginObject();
    ExtensionMembers(j, extensions);
    j.EndObject();
}

void Name(JsonOut& j, const std::string& name) {
    if (name.empty()) return;
    j.TextMember("name", name);
}

const char* TypeName(int type) {
    switch (type) {
        case TINYGLTF_TYPE_SCALAR:
            return "SCALAR";
        case TINYGLTF_TYPE_VEC2:
            return "VEC2";
        case TINYGLTF_TYPE_VEC3:
            return "VEC3";
        case TINYGLTF_TYPE_VEC4:
            return "VEC4";
        case TINYGLTF_TYPE_MAT2:
            return "MAT2";
        case TINYGLTF_TYPE_MAT3:
            return "MAT3";
        case TINYGLTF_TYPE_MAT4:
            return "MAT4";
        default:
            return "";
    }
}

// An accessor's min or max: reals, or integers for integer components.
template <typename T>
void Bound(JsonOut& j, const char* key, int componentType, std::span<const T> values) {
    if (values.empty()) return;
    const bool real = componentType == TINYGLTF_COMPONENT_TYPE_FLOAT ||
                      componentType == TINYGLTF_COMPONENT_TYPE_DOUBLE;
    j.AnyKey(key);
    j.BeginArray();
    for (T v : values)
        if (real)
            j.Real(v);
        else
            j.Int(static_cast<int>(v));
    j.EndArray();
}

void AccessorStart(JsonOut& j, int bufferView, uint64_t byteOffset, int componentType,
                   uint64_t count) {
    j.BeginObject();
    if (bufferView >= 0) j.IntMember("bufferView", bufferView);
    if (byteOffset != 0) j.UnsignedMember("byteOffset", byteOffset);
    j.IntMember("componentType", componentType);
    j.UnsignedMember("count", count);
}

void Accessor(JsonOut& j, const tinygltf::Accessor& a) {
    AccessorStart(j, a.bufferView, a.byteOffset, a.componentType, a.count);
    Bound<double>(j, "min", a.componentType, a.minValues);
    Bound<double>(j, "max", a.componentType, a.maxValues);
    if (a.normalized) j.BoolMember("normalized", true);
    j.TextMember("type", TypeName(a.type));
    Name(j, a.name);
    Extras(j, a.extras);
    j.EndObject();
}

void Accessor(JsonOut& j, const AccessorRecord& a) {
    AccessorStart(j, a.bufferView, a.byteOffset, a.componentType, a.count);
    Bound<float>(j, "min", a.componentType, {a.min, a.bounds});
    Bound<float>(j, "max", a.componentType, {a.max, a.bounds});
    j.TextMember("type", TypeName(a.type));
    j.EndObject();
}

void Animation(JsonOut& j, const tinygltf::Animation& a) {
    j.BeginObject();
    Name(j, a.name);
    j.Key("channels");
    j.BeginArray();
    for (const tinygltf::AnimationChannel& c : a.channels) {
        j.BeginObject();
        j.IntMember("sampler", c.sampler);
        j.Key("target");
        j.BeginObject();
        j.IntMember("node", c.target_node);
        j.TextMember("path", c.target_path);
        Extensions(j, c.target_extensions);
        j.EndObject();
        Extras(j, c.extras);
        Extensions(j, c.extensions);
        j.EndObject();
    }
    j.EndArray();
    j.Key("samplers");
    j.BeginArray();
    for (const tinygltf::AnimationSampler& s : a.samplers) {
        j.BeginObject();
        j.IntMember("input", s.input);
        j.IntMember("output", s.output);
        j.TextMember("interpolation", s.interpolation);
        Extras(j, s.extras);
        j.EndObject();
    }
    j.EndArray();
    // A builder may give the extras as their JSON text (see MoveableAnimations.h).
    if (a.extras.Type() == tinygltf::NULL_TYPE && !a.extras_json_string.empty()) {
        j.Key("extras");
        j.Raw(a.extras_json_string);
    } else {
        Extras(j, a.extras);
    }
    Extensions(j, a.extensions);
    j.EndObject();
}

void TextureInfo(JsonOut& j, std::string_view key, const tinygltf::TextureInfo& t) {
    if (t.index < 0) return;
    j.AnyKey(key);
    j.BeginObject();
    j.IntMember("index", t.index);
    if (t.texCoord != 0) j.IntMember("texCoord", t.texCoord);
    Extras(j, t.extras);
    Extensions(j, t.extensions);
    j.EndObject();
}

void Material(JsonOut& j, const tinygltf::Material& m) {
    j.BeginObject();
    Name(j, m.name);
    if (!Same(m.alphaCutoff, 0.5)) j.RealMember("alphaCutoff", m.alphaCutoff);
    if (m.alphaMode != "OPAQUE") j.TextMember("alphaMode", m.alphaMode);
    if (m.doubleSided) j.BoolMember("doubleSided", true);
    auto scaled = [&](std::string_view key, int index, int texCoord, std::string_view factorKey,
                      double factor, const tinygltf::Value& extras,
                      const tinygltf::ExtensionMap& extensions) {
        if (index < 0) return;
        j.AnyKey(key);
        j.BeginObject();
        j.IntMember("index", index);
        if (texCoord != 0) j.IntMember("texCoord", texCoord);
        if (!Same(factor, 1.0)) j.RealMember(factorKey, factor);
        Extras(j, extras);
        Extensions(j, extensions);
        j.EndObject();
    };
    const tinygltf::NormalTextureInfo& n = m.normalTexture;
    scaled("normalTexture", n.index, n.texCoord, "scale", n.scale, n.extras, n.extensions);
    const tinygltf::OcclusionTextureInfo& o = m.occlusionTexture;
    scaled("occlusionTexture", o.index, o.texCoord, "strength", o.strength, o.extras, o.extensions);
    TextureInfo(j, "emissiveTexture", m.emissiveTexture);
    if (!Same(m.emissiveFactor, {0.0, 0.0, 0.0})) j.RealArray("emissiveFactor", m.emissiveFactor);

    const tinygltf::PbrMetallicRoughness& p = m.pbrMetallicRoughness;
    const bool pbr = !Same(p.baseColorFactor, {1.0, 1.0, 1.0, 1.0}) ||
                     !Same(p.metallicFactor, 1.0) || !Same(p.roughnessFactor, 1.0) ||
                     p.baseColorTexture.index > -1 || p.metallicRoughnessTexture.index > -1 ||
                     !p.extensions.empty() || Writable(p.extras);
    if (pbr) {
        j.Key("pbrMetallicRoughness");
        j.BeginObject();
        if (!Same(p.baseColorFactor, {1.0, 1.0, 1.0, 1.0}))
            j.RealArray("baseColorFactor", p.baseColorFactor);
        if (!Same(p.metallicFactor, 1.0)) j.RealMember("metallicFactor", p.metallicFactor);
        if (!Same(p.roughnessFactor, 1.0)) j.RealMember("roughnessFactor", p.roughnessFactor);
        TextureInfo(j, "baseColorTexture", p.baseColorTexture);
        TextureInfo(j, "metallicRoughnessTexture", p.metallicRoughnessTexture);
        Extensions(j, p.extensions);
        Extras(j, p.extras);
        j.EndObject();
    }
    Extensions(j, m.extensions);
    Extras(j, m.extras);
    j.EndObject();
}

void Mesh(JsonOut& j, const tinygltf::Mesh& m) {
    j.BeginObject();
    j.Key("primitives");
    j.BeginArray();
    for (const tinygltf::Primitive& p : m.primitives) {
        j.BeginObject();
        j.Key("attributes");
        j.BeginObject();
        for (const auto& [name, accessor] : p.attributes) {
            j.IntMember(name, accessor);
        }
        j.EndObject();
        if (p.indices > -1) j.IntMember("indices", p.indices);
        if (p.material > -1) j.IntMember("material", p.material);
        j.IntMember("mode", p.mode);
        if (!p.targets.empty()) {
            j.Key("targets");
            j.BeginArray();
            for (const auto& target : p.targets) {
                j.BeginObject();
                for (const auto& [name, accessor] : target) {
                    j.IntMember(name, accessor);
                }
                j.EndObject();
            }
            j.EndArray();
        }
        Extensions(j, p.extensions);
        Extras(j, p.extras);
        j.EndObject();
    }
    j.EndArray();
    j.RealArray("weights", m.weights);
    Name(j, m.name);
    Extensions(j, m.extensions);
    Extras(j, m.extras);
    j.EndObject();
}

void Light(JsonOut& j, const tinygltf::Light& l) {
    j.BeginObject();
    Name(j, l.name);
    j.RealMember("intensity", l.intensity);
    if (l.range > 0.0) j.RealMember("range", l.range);
    j.RealArray("color", l.color);
    j.TextMember("type", l.type);
    if (l.type == "spot") {
        j.Key("spot");
        j.BeginObject();
        j.RealMember("innerConeAngle", l.spot.innerConeAngle);
        j.RealMember("outerConeAngle", l.spot.outerConeAngle);
        Extensions(j, l.spot.extensions);
        Extras(j, l.spot.extras);
        j.EndObject();
    }
    Extensions(j, l.extensions);
    Extras(j, l.extras);
    j.EndObject();
}

void Node(JsonOut& j, const tinygltf::Node& n) {
    j.BeginObject();
    j.RealArray("translation", n.translation);
    j.RealArray("rotation", n.rotation);
    j.RealArray("scale", n.scale);
    j.RealArray("matrix", n.matrix);
    for (const auto& [key, index] :
         {std::pair{"mesh", n.mesh}, {"skin", n.skin}, {"camera", n.camera}}) {
        if (index == -1) continue;
        j.IntMember(key, index);
    }
    j.RealArray("weights", n.weights);
    Extras(j, n.extras);
    Extensions(j, n.extensions);
    Name(j, n.name);
    j.IntArray("children", n.children);
    j.EndObject();
}

void Camera(JsonOut& j, const tinygltf::Camera& c) {
    j.BeginObject();
    j.TextMember("type", c.type);
    Name(j, c.name);
    if (c.type == "orthographic") {
        j.Key("orthographic");
        j.BeginObject();
        for (const auto& [key, v] : {std::pair{"zfar", c.orthographic.zfar},
                                     {"znear", c.orthographic.znear},
                                     {"xmag", c.orthographic.xmag},
                                     {"ymag", c.orthographic.ymag}}) {
            j.RealMember(key, v);
        }
        Extras(j, c.orthographic.extras);
        j.EndObject();
    } else if (c.type == "perspective") {
        const tinygltf::PerspectiveCamera& p = c.perspective;
        j.Key("perspective");
        j.BeginObject();
        j.RealMember("zfar", p.zfar);
        j.RealMember("znear", p.znear);
        if (p.aspectRatio > 0) j.RealMember("aspectRatio", p.aspectRatio);
        if (p.yfov > 0) j.RealMember("yfov", p.yfov);
        Extras(j, p.extras);
        j.EndObject();
    }
    Extras(j, c.extras);
    Extensions(j, c.extensions);
    j.EndObject();
}

void Image(JsonOut& j, const tinygltf::Image& i) {
    j.BeginObject();
    if (i.uri.empty()) {
        j.TextMember("mimeType", i.mimeType);
        j.IntMember("bufferView", i.bufferView);
    } else {
        j.TextMember("uri", i.uri);
    }
    Name(j, i.name);
    Extras(j, i.extras);
    Extensions(j, i.extensions);
    j.EndObject();
}

// Writes each element of items through write, as the array key; nothing when there are none.
template <typename T, typename F>
void Array(JsonOut& j, std::string_view key, const std::vector<T>& items, F write) {
    if (items.empty()) return;
    j.AnyKey(key);
    j.BeginArray();
    for (const T& item : items) {
        write(j, item);
        j.Drain();
    }
    j.EndArray();
}

}  // namespace

uint64_t BinaryChunk::Refer(const std::vector<uint8_t>& bytes) {
    static const uint8_t kZeros[4] = {};
    if (size % 4 != 0) {
        const size_t pad = 4 - size % 4;
        pieces.push_back({kZeros, pad});
        size += pad;
    }
    const uint64_t at = size;
    pieces.push_back({bytes.data(), bytes.size()});
    size += bytes.size();
    return at;
}

uint64_t BinaryChunk::Add(std::vector<uint8_t>&& bytes, bool aligned) {
    owned.push_back(std::move(bytes));
    if (aligned) return Refer(owned.back());
    const uint64_t at = size;
    pieces.push_back({owned.back().data(), owned.back().size()});
    size += owned.back().size();
    return at;
}

namespace {

void Document(JsonOut& j, const tinygltf::Model& model, bool binary, const ModelBulk* bulk) {
    const BinaryChunk* chunk = bulk ? &bulk->chunk : nullptr;
    j.BeginObject();
    if (bulk && !bulk->accessors.empty())
        Array(j, "accessors", bulk->accessors,
              [](JsonOut& j, const AccessorRecord& a) { Accessor(j, a); });
    else
        Array(j, "accessors", model.accessors,
              [](JsonOut& j, const tinygltf::Accessor& a) { Accessor(j, a); });
    // An animation without channels is not valid glTF: left out, and so is an empty list.
    const bool animated =
        std::any_of(model.animations.begin(), model.animations.end(),
                    [](const tinygltf::Animation& a) { return !a.channels.empty(); });
    if (animated) {
        j.Key("animations");
        j.BeginArray();
        for (const tinygltf::Animation& a : model.animations) {
            if (!a.channels.empty()) Animation(j, a);
            j.Drain();
        }
        j.EndArray();
    }

    j.Key("asset");
    j.BeginObject();
    if (!model.asset.generator.empty()) j.TextMember("generator", model.asset.generator);
    if (!model.asset.copyright.empty()) j.TextMember("copyright", model.asset.copyright);
    j.TextMember("version", model.asset.version.empty() ? "2.0" : model.asset.version);
    if (!model.asset.extras.Keys().empty()) Extras(j, model.asset.extras);
    Extensions(j, model.asset.extensions);
    j.EndObject();

    if (!model.buffers.empty()) {
        j.Key("buffers");
        j.BeginArray();
        for (size_t i = 0; i < model.buffers.size(); ++i) {
            const tinygltf::Buffer& b = model.buffers[i];
            j.BeginObject();
            j.UnsignedMember("byteLength", chunk && i == 0 ? chunk->size : b.data.size());
            if (!(binary && i == 0 && b.uri.empty())) {
                j.Key("uri");
                j.Base64Uri(kBufferUri, b.data.data(), b.data.size());
            }
            Name(j, b.name);
            Extras(j, b.extras);
            j.EndObject();
        }
        j.EndArray();
    }

    Array(j, "bufferViews", model.bufferViews, [](JsonOut& j, const tinygltf::BufferView& v) {
        j.BeginObject();
        j.IntMember("buffer", v.buffer);
        j.UnsignedMember("byteLength", v.byteLength);
        if (v.byteStride >= 4) j.UnsignedMember("byteStride", v.byteStride);
        if (v.byteOffset > 0) j.UnsignedMember("byteOffset", v.byteOffset);
        if (v.target == TINYGLTF_TARGET_ARRAY_BUFFER ||
            v.target == TINYGLTF_TARGET_ELEMENT_ARRAY_BUFFER) {
            j.IntMember("target", v.target);
        }
        Name(j, v.name);
        Extras(j, v.extras);
        j.EndObject();
    });
    if (!model.extensionsRequired.empty()) {
        j.Key("extensionsRequired");
        j.BeginArray();
        for (const std::string& e : model.extensionsRequired) j.Text(e);
        j.EndArray();
    }
    Array(j, "images", model.images, Image);
    Array(j, "materials", model.materials, Material);
    Array(j, "meshes", model.meshes, Mesh);
    Array(j, "nodes", model.nodes, Node);
    if (model.defaultScene > -1) j.IntMember("scene", model.defaultScene);
    Array(j, "scenes", model.scenes, [](JsonOut& j, const tinygltf::Scene& s) {
        j.BeginObject();
        j.IntArray("nodes", s.nodes);
        Name(j, s.name);
        Extras(j, s.extras);
        Extensions(j, s.extensions);
        j.EndObject();
    });
    Array(j, "skins", model.skins, [](JsonOut& j, const tinygltf::Skin& s) {
        j.BeginObject();
        j.Key("joints");
        j.BeginArray();
        for (int joint : s.joints) j.Int(joint);
        j.EndArray();
        for (const auto& [key, index] :
             {std::pair{"inverseBindMatrices", s.inverseBindMatrices}, {"skeleton", s.skeleton}}) {
            if (index < 0) continue;
            j.IntMember(key, index);
        }
        Name(j, s.name);
        j.EndObject();
    });
    Array(j, "textures", model.textures, [](JsonOut& j, const tinygltf::Texture& t) {
        j.BeginObject();
        if (t.sampler > -1) j.IntMember("sampler", t.sampler);
        if (t.source > -1) j.IntMember("source", t.source);
        Name(j, t.name);
        Extras(j, t.extras);
        Extensions(j, t.extensions);
        j.EndObject();
    });
    Array(j, "samplers", model.samplers, [](JsonOut& j, const tinygltf::Sampler& s) {
        j.BeginObject();
        if (s.magFilter != -1) j.IntMember("magFilter", s.magFilter);
        if (s.minFilter != -1) j.IntMember("minFilter", s.minFilter);
        j.IntMember("wrapS", s.wrapS);
        j.IntMember("wrapT", s.wrapT);
        Extras(j, s.extras);
        j.EndObject();
    });
    Array(j, "cameras", model.cameras, Camera);

    // Lights live in KHR_lights_punctual beside the model's other extensions, and using them
    // names the extension as used.
    const char* kLights = "KHR_lights_punctual";
    if (!model.extensions.empty() || !model.lights.empty()) {
        j.Key("extensions");
        j.BeginObject();
        tinygltf::ExtensionMap others = model.extensions;
        if (!model.lights.empty()) others.erase(kLights);
        ExtensionMembers(j, others);
        if (!model.lights.empty()) {
            j.AnyKey(kLights);
            j.BeginObject();
            j.Key("lights");
            j.BeginArray();
            for (const tinygltf::Light& l : model.lights) Light(j, l);
            j.EndArray();
            j.EndObject();
        }
        j.EndObject();
    }
    std::vector<std::string> used = model.extensionsUsed;
    if (!model.lights.empty() && std::find(used.begin(), used.end(), kLights) == used.end())
        used.push_back(kLights);
    if (!used.empty()) {
        j.Key("extensionsUsed");
        j.BeginArray();
        for (const std::string& e : used) j.Text(e);
        j.EndArray();
    }
    Extras(j, model.extras);
    j.EndObject();
}

}  // namespace

std::string GltfJson(const tinygltf::Model& model, bool binary, const ModelBulk* bulk) {
    std::string out;
    // Animation keys are most of a large document: about 40 bytes an accessor.
    const size_t accessors = model.accessors.size() + (bulk ? bulk->accessors.size() : 0);
    out.reserve(4096 + accessors * 160 + model.nodes.size() * 160);
    {
        JsonOut j(out);
        Document(j, model, binary, bulk);
    }
    return out;
}

bool WriteGltf(const tinygltf::Model& model, std::ostream& out, bool binary, std::string& error,
               const ModelBulk* bulk) {
    if (bulk && !binary) {
        error = "a model's bulk is written only in a binary container";
        return false;
    }
    std::string block;
    if (!binary) {
        JsonOut j(block, &out);
        Document(j, model, false, nullptr);
        j.Newline();
        j.Flush();
    } else {
        BinaryChunk whole;
        const BinaryChunk* chunk = bulk ? &bulk->chunk : &whole;
        if (!bulk && !model.buffers.empty() && model.buffers[0].uri.empty()) {
            const std::vector<uint8_t>& data = model.buffers[0].data;
            whole.pieces.push_back({data.data(), data.size()});
            whole.size = data.size();
        }
        const uint64_t binPadded = (chunk->size + 3) / 4 * 4;
        const uint64_t binBytes = chunk->size == 0 ? 0 : 8 + binPadded;
        auto tooLarge = [&](uint64_t total) {
            if (total <= std::numeric_limits<uint32_t>::max()) return false;
            error = "the model needs " + std::to_string(total) +
                    " bytes, past the 4 GiB a binary glTF file can hold (write .gltf instead)";
            return true;
        };
        // The data alone may be too much: known before anything is written.
        if (tooLarge(12 + 8 + binBytes)) return false;
        auto word = [&](uint32_t v) {
            const unsigned char b[4] = {
                static_cast<unsigned char>(v), static_cast<unsigned char>(v >> 8),
                static_cast<unsigned char>(v >> 16), static_cast<unsigned char>(v >> 24)};
            out.write(reinterpret_cast<const char*>(b), 4);
        };
        // The JSON goes out as it is made, after room for the header and the JSON chunk's own,
        // which give lengths known only at its end and are written last.
        const std::streampos start = out.tellp();
        if (start == std::streampos(-1)) {
            error = "the output cannot seek back to the file's header";
            return false;
        }
        out.write("glTF\0\0\0\0\0\0\0\0\0\0\0\0JSON", 20);
        JsonOut j(block, &out);
        Document(j, model, true, bulk);
        const uint64_t made = j.Flush();
        const uint64_t json = (made + 3) / 4 * 4;
        out.write("   ", static_cast<std::streamsize>(json - made));
        const uint64_t total = 12 + 8 + json + binBytes;
        if (tooLarge(total)) return false;
        if (chunk->size != 0) {
            word(static_cast<uint32_t>(binPadded));
            word(0x004E4942);  // "BIN"
            for (const BinaryChunk::Piece& piece : chunk->pieces)
                out.write(reinterpret_cast<const char*>(piece.data),
                          static_cast<std::streamsize>(piece.size));
            out.write("\0\0\0", static_cast<std::streamsize>(binPadded - chunk->size));
        }
        const std::streampos end = out.tellp();
        out.seekp(start + std::streamoff(4));
        word(2);
        word(static_cast<uint32_t>(total));
        word(static_cast<uint32_t>(json));
        out.seekp(end);
    }
    if (!out) {
        error = "the output stream failed";
        return false;
    }
    return true;
}

}  // namespace tr4export
