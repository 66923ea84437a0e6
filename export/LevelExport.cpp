// The whole level as one glTF scene: rooms, their static placements and lights, and the items.
#include <algorithm>
#include <cmath>
#include <map>
#include <numbers>

#include "GltfExport.h"
#include "ModelBuilder.h"
#include "MoveableNodes.h"
#include "World.h"

namespace tr4export {
namespace {

constexpr double kTurn = 2 * std::numbers::pi / 65536;  // a level angle unit
// Light, in the lux a light gives at half its range (or, for the sun, everywhere) when its
// intensity is 16: 683 lux is one watt per square metre, a plainly lit surface in Blender.
constexpr double kLuxAtSixteen = 683.0;

tinygltf::Value::Object Extras(std::initializer_list<std::pair<const char*, int>> fields) {
    tinygltf::Value::Object o;
    for (const auto& [key, value] : fields) o[key] = tinygltf::Value(value);
    return o;
}

// The rotation that turns glTF's light direction (-Z) to d (unit).
Quaternion Toward(const std::array<double, 3>& d) {
    // From a = (0, 0, -1): axis a x d, angle between them, as (a x d, 1 + a . d) normalised.
    const double dot = -d[2];
    if (dot < -0.999999) return {0, 1, 0, 0};  // straight back: half a turn about y
    return {d[1], -d[0], 0, 1 + dot};
}

class LevelBuilder {
  public:
    LevelBuilder(const tr4::Level& level, const tr4::Lista_Mesh* list, const ExportRequest& request,
                 tinygltf::Model& model, std::vector<std::string>& warnings)
        : level(level),
          request(request),
          model(model),
          warnings(warnings),
          b(level, list, request, model, warnings),
          own(request.objects ? std::nullopt
                              : std::optional<ObjectMeshes>(std::in_place, level, list)),
          objects(request.objects ? *request.objects : *own) {}

    void Build() {
        const int root = b.Node(request.name.empty() ? "level" : request.name);
        // Rooms that another room names as its alternate take its place when the level flips.
        std::vector<bool> alternate(level.rooms.size());
        for (size_t r = 0; r < level.rooms.size(); ++r) {
            const int16_t other = tr4::ReadRoomInfo(level.rooms[r]).alternate;
            if (other < 0) continue;
            if (size_t(other) < level.rooms.size())
                alternate[size_t(other)] = true;
            else
                warnings.push_back("room " + std::to_string(r) + ": its alternate room " +
                                   std::to_string(other) + " does not exist");
        }
        int alternates = -1;
        for (size_t r = 0; r < level.rooms.size(); ++r) {
            const int node = Room(int(r));
            if (alternate[r] && alternates < 0) {
                alternates = b.Node("alternate rooms");
                model.nodes[root].children.push_back(alternates);
            }
            model.nodes[alternate[r] ? alternates : root].children.push_back(node);
        }
        if (request.items) Items(root);
        if (skippedLights > 0)
            warnings.push_back(std::to_string(skippedLights) +
                               " shadow and fog-bulb light(s) have no glTF kind and are left out");
        b.Finish({root}, model.nodes[root].name);
    }

  private:
    int Room(int r) {
        const tr4::RoomRecord& room = level.rooms[size_t(r)];
        const tr4::RoomInfo info = tr4::ReadRoomInfo(room);
        const std::string name = "room " + std::to_string(r);
        const std::vector<tr4::RoomVertex> vertices = tr4::RoomVertices(room);
        std::vector<tr4::MeshFace> faces;
        std::vector<bool> doubleSided;
        int outside = 0;
        for (const tr4::RoomFace& f : tr4::RoomFaces(room)) {
            tr4::MeshFace face;
            face.quad = f.quad;
            bool inside = true;
            for (int k = 0; k < f.CornerCount(); ++k) {
                if (f.vertices[k] >= vertices.size()) {
                    inside = false;
                    break;
                }
                const tr4::RoomVertex& v = vertices[f.vertices[k]];
                face.vertex[k] = f.vertices[k];
                face.corners[k] = {v.x, v.y, v.z};
            }
            if (!inside) {
                ++outside;
                continue;
            }
            tr4::FaceTexture(level, f.ObjectTexture(), face);  // none: plain grey
            faces.push_back(face);
            doubleSided.push_back(f.DoubleSided());
        }
        if (outside > 0)
            warnings.push_back(name + ": " + std::to_string(outside) +
                               " face(s) name a vertex outside the room and are left out");
        ModelBuilder::VertexData data;
        for (const tr4::RoomVertex& v : vertices) data.colours.push_back(RoomColour(v.colour));
        const int mesh = faces.empty() ? -1 : b.FacesMesh(name, faces, data, &doubleSided);
        const int node = b.Node(name, mesh);
        b.Translate(node, {info.x, 0, info.z});
        tinygltf::Value::Object extras = Extras({{"flags", info.flags},
                                                 {"waterScheme", info.waterScheme},
                                                 {"reverb", info.reverb},
                                                 {"alternateRoom", info.alternate},
                                                 {"alternateGroup", info.alternateGroup}});
        extras["ambient"] = tinygltf::Value(static_cast<double>(info.ambient));
        b.Extras(node, std::move(extras));

        const std::vector<tr4::StaticPlacement> statics = tr4::StaticPlacements(room);
        for (size_t k = 0; k < statics.size(); ++k) {
            const tr4::StaticPlacement& s = statics[k];
            const std::string who = name + " static " + std::to_string(k);
            const tr4::StaticRecord* record = objects.FindStatic(s.staticId);
            if (record == nullptr) {
                warnings.push_back(who + ": no static has id " + std::to_string(s.staticId) +
                                   "; left out");
                continue;
            }
            const int levelMesh = objects.Static(*record);
            if (levelMesh < 0) warnings.push_back(who + ": its mesh pointer names no decoded mesh");
            const int child = b.Node(who, levelMesh < 0 ? -1 : b.Mesh(levelMesh));
            b.Translate(child, {int64_t{s.x} - info.x, s.y, int64_t{s.z} - info.z});
            b.Rotate(child, AxisAngle(1, -s.rotation * kTurn));
            b.Extras(child, Extras({{"staticId", s.staticId}, {"tint", s.tint}}));
            model.nodes[node].children.push_back(child);
        }
        if (request.lights) {
            const std::vector<tr4::RoomLight> lights = tr4::RoomLights(room);
            for (size_t k = 0; k < lights.size(); ++k) {
                const int child = Light(lights[k], name + " light " + std::to_string(k), info);
                if (child >= 0) model.nodes[node].children.push_back(child);
            }
        }
        return node;
    }

    int Light(const tr4::RoomLight& l, const std::string& name, const tr4::RoomInfo& room) {
        tinygltf::Light light;
        light.name = name;
        light.color = {DisplayToLinear(l.red / 255.0f), DisplayToLinear(l.green / 255.0f),
                       DisplayToLinear(l.blue / 255.0f)};
        const double strength = l.intensity / 16.0;
        const double scale = b.Scale();
        auto finite = [](float v) { return std::isfinite(v) ? double(v) : 0.0; };
        // glTF's light looks along its node's -Z. The level's direction points from what a light
        // shines on back toward the light (spots near a floor point down into it, spots above a
        // room up and away), so the light shines the other way: -d, which in glTF's axes
        // (-x, -y, z) is (dx, dy, -dz).
        const std::array<double, 3> shine{finite(l.dx), finite(l.dy), -finite(l.dz)};
        const double length =
            std::sqrt(shine[0] * shine[0] + shine[1] * shine[1] + shine[2] * shine[2]);
        switch (l.type) {
            case tr4::RoomLight::Point: {
                light.type = "point";
                const double range = std::max(0.0, finite(l.out)) * scale;
                if (range > 0) light.range = range;
                light.intensity = strength * kLuxAtSixteen * (range > 0 ? range * range / 4 : 1);
                break;
            }
            case tr4::RoomLight::Spot: {
                light.type = "spot";
                const double range = std::max(0.0, finite(l.length)) * scale;
                if (range > 0) light.range = range;
                light.intensity = strength * kLuxAtSixteen * (range > 0 ? range * range / 4 : 1);
                // The cone from its cosines, within what glTF allows (0 <= inner < outer <= 90°).
                const double outer = std::clamp(std::acos(std::clamp(finite(l.out), 0.0, 1.0)),
                                                1e-4, std::numbers::pi / 2);
                const double inner = std::acos(std::clamp(finite(l.in), 0.0, 1.0));
                light.spot.outerConeAngle = outer;
                light.spot.innerConeAngle = std::min(inner, outer * 0.999);
                break;
            }
            case tr4::RoomLight::Sun:
                light.type = "directional";
                light.intensity = strength * kLuxAtSixteen;
                break;
            default:
                ++skippedLights;
                return -1;
        }
        const int node = b.Node(name);
        if (l.type != tr4::RoomLight::Sun)  // a sun's position means nothing
            b.Translate(node, {int64_t{l.x} - room.x, l.y, int64_t{l.z} - room.z});
        if (l.type != tr4::RoomLight::Point && length > 0) {
            // Level axes to glTF's: (-x, -y, z), with the shine reversed as above.
            const std::array<double, 3> d{shine[0] / length, shine[1] / length, -shine[2] / length};
            b.Rotate(node, Toward(d));
        }
        tinygltf::Value::Object extras = Extras({{"type", l.type}, {"intensity", l.intensity}});
        extras["in"] = tinygltf::Value(finite(l.in));
        extras["out"] = tinygltf::Value(finite(l.out));
        extras["length"] = tinygltf::Value(finite(l.length));
        extras["cutoff"] = tinygltf::Value(finite(l.cutoff));
        b.Extras(node, std::move(extras));
        b.Light(node, std::move(light));
        return node;
    }

    void Items(int root) {
        const std::vector<tr4::AnimationRecord> animations = tr4::Animations(level);
        const std::vector<tr4::Item> items = tr4::Items(level);
        for (size_t k = 0; k < items.size(); ++k) {
            const tr4::Item& item = items[k];
            const std::string name = "item " + std::to_string(k);
            const tr4::MoveableRecord* m =
                item.moveable < 0 ? nullptr : objects.Moveable(uint32_t(item.moveable));
            if (m == nullptr) {
                warnings.push_back(name + ": no moveable has id " + std::to_string(item.moveable) +
                                   "; left out");
                continue;
            }
            if (item.room < 0 || size_t(item.room) >= level.rooms.size()) {
                warnings.push_back(name + ": its room " + std::to_string(item.room) +
                                   " does not exist; left out");
                continue;
            }
            tr4::Keyframe pose;
            const bool posed = FirstKeyframe(level, animations, *m, pose, warnings, name);
            const MoveableLook look = m->id == 0 ? PlayerLook(objects, *m) : MoveableLook{};
            const MoveableNodes nodes = AddMoveable(b, model, level, objects, *m, name,
                                                    posed ? &pose : nullptr, warnings, look);
            b.Translate(nodes.object, {item.x, item.y, item.z});
            b.Rotate(nodes.object, AxisAngle(1, -item.angle * kTurn));
            b.Extras(nodes.object, Extras({{"moveableId", item.moveable},
                                           {"room", item.room},
                                           {"ocb", item.ocb},
                                           {"flags", item.flags},
                                           {"intensity", item.intensity}}));
            model.nodes[root].children.push_back(nodes.object);
        }
    }

    const tr4::Level& level;
    const ExportRequest& request;
    tinygltf::Model& model;
    std::vector<std::string>& warnings;
    ModelBuilder b;
    std::optional<ObjectMeshes> own;
    const ObjectMeshes& objects;
    int skippedLights = 0;
};

}  // namespace

std::array<float, 3> RoomColour(uint16_t rgb555) {
    auto channel = [](int c) {
        return DisplayToLinear(std::min(1.0f, static_cast<float>(c) / 16));
    };
    return {channel((rgb555 >> 10) & 31), channel((rgb555 >> 5) & 31), channel(rgb555 & 31)};
}

bool BuildLevelModel(const tr4::Level& level, const tr4::Lista_Mesh* list,
                     const ExportRequest& request, tinygltf::Model& model,
                     std::vector<std::string>& warnings, std::string& /*error*/) {
    model = tinygltf::Model();
    LevelBuilder(level, list, request, model, warnings).Build();
    return true;
}

}  // namespace tr4export
