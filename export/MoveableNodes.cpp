#include "MoveableNodes.h"

#include <cmath>

#include "MeshTree.h"

namespace tr4export {
namespace {

std::array<double, 3> Rotated(const Quaternion& q, const std::array<double, 3>& v) {
    // v + 2 w (u x v) + 2 u x (u x v), u the vector part of q.
    const double ux = q[0], uy = q[1], uz = q[2], w = q[3];
    const double cx = uy * v[2] - uz * v[1], cy = uz * v[0] - ux * v[2], cz = ux * v[1] - uy * v[0];
    const double dx = uy * cz - uz * cy, dy = uz * cx - ux * cz, dz = ux * cy - uy * cx;
    return {v[0] + 2 * (w * cx + dx), v[1] + 2 * (w * cy + dy), v[2] + 2 * (w * cz + dz)};
}

// A level offset in glTF's axes and units; the integers negated first, so zeros stay positive.
template <typename Int>
std::array<double, 3> Mapped(const Int* offset, double scale) {
    return {static_cast<double>(-int64_t{offset[0]}) * scale,
            static_cast<double>(-int64_t{offset[1]}) * scale,
            static_cast<double>(int64_t{offset[2]}) * scale};
}

}  // namespace

Quaternion PartRotation(const std::array<double, 3>& angles) {
    return Multiply(Multiply(AxisAngle(1, -angles[1]), AxisAngle(0, -angles[0])),
                    AxisAngle(2, angles[2]));
}

std::vector<PartPose> Pose(const std::vector<tr4::MeshTreePart>& parts, const tr4::Keyframe* pose,
                           double scale, bool objectSpace) {
    std::vector<PartPose> out;
    Pose(parts, pose, scale, objectSpace, out);
    return out;
}

void Pose(const std::vector<tr4::MeshTreePart>& parts, const tr4::Keyframe* pose, double scale,
          bool objectSpace, std::vector<PartPose>& out) {
    out.assign(parts.size(), PartPose{});
    for (size_t k = 0; k < parts.size(); ++k) {
        const int up = parts[k].parent;
        PartPose& p = out[k];
        // The root part moves by the pose's offset; every other part sits at its tree offset.
        if (up >= 0) p.t = Mapped(parts[k].offset, scale);
        if (up < 0 && pose) p.t = Mapped(pose->offset, scale);
        if (pose && k < pose->rotations.size()) p.q = PartRotation(pose->rotations[k]);
        if (!objectSpace) continue;
        const PartPose parent = up < 0 ? PartPose{} : out[size_t(up)];
        const std::array<double, 3> moved = Rotated(parent.objectQ, p.t);
        for (int c = 0; c < 3; ++c) p.objectT[c] = parent.objectT[c] + moved[c];
        p.objectQ = Multiply(parent.objectQ, p.q);
    }
}

MoveableNodes AddMoveable(ModelBuilder& b, tinygltf::Model& model, const tr4::Level& level,
                          const ObjectMeshes& objects, const tr4::MoveableRecord& m,
                          const std::string& name, const tr4::Keyframe* pose,
                          std::vector<std::string>& warnings, MoveableLook look) {
    MoveableNodes out;
    out.tree = tr4::MeshTreeParts(level, m, &warnings);
    out.object = b.Node(name);
    const tr4::MoveableRecord& skin = look.skin ? *look.skin : m;
    // A part or static whose mesh pointer names no decoded mesh stays, without a mesh.
    auto meshOf = [&](const tr4::MoveableRecord& owner, uint32_t k, const std::string& who) {
        const int mesh = k < owner.meshCount ? objects.MoveablePart(owner, k) : -1;
        if (mesh < 0) warnings.push_back(who + ": its mesh pointer names no decoded mesh");
        return mesh < 0 ? -1 : b.Mesh(mesh);
    };
    const std::vector<PartPose> posed = Pose(out.tree, pose, b.Scale());
    std::vector<int> depth;
    int flattened = 0;
    for (size_t k = 0; k < out.tree.size(); ++k) {
        const std::string part = name + " part " + std::to_string(k);
        const int node = b.Node(part, meshOf(skin, uint32_t(k), part));
        if (look.joints) {
            const std::string joint = part + " joint";
            // Made before the parent is looked up: a new node may move the others.
            const int piece = b.Node(joint, meshOf(*look.joints, uint32_t(k), joint));
            model.nodes[node].children.push_back(piece);
        }
        const int up = out.tree[k].parent;
        int partDepth = up < 0 ? 1 : depth[size_t(up)] + 1;
        int parentNode = up < 0 ? out.object : out.parts[size_t(up)];
        const bool flat = partDepth > kMaxPartDepth;
        if (flat) {
            // Hung from the object, at the place and turn the chain gives it.
            ++flattened;
            partDepth = 1;
            parentNode = out.object;
        }
        b.Place(node, flat ? posed[k].objectT : posed[k].t);
        b.Rotate(node, flat ? posed[k].objectQ : posed[k].q);
        model.nodes[parentNode].children.push_back(node);
        out.parts.push_back(node);
        out.flattened.push_back(flat);
        depth.push_back(partDepth);
    }
    if (flattened > 0)
        warnings.push_back(name + ": " + std::to_string(flattened) + " part(s) deeper than " +
                           std::to_string(kMaxPartDepth) +
                           " levels hang from the object itself, in place");
    return out;
}

MoveableLook PlayerLook(const ObjectMeshes& objects, const tr4::MoveableRecord& player) {
    MoveableLook look;
    const tr4::MoveableRecord* skin = objects.Moveable(8);
    const tr4::MoveableRecord* joints = objects.Moveable(9);
    if (skin && skin->meshCount == player.meshCount) look.skin = skin;
    if (look.skin && joints && joints->meshCount == player.meshCount) look.joints = joints;
    return look;
}

bool FirstKeyframe(const tr4::Level& level, const std::vector<tr4::AnimationRecord>& animations,
                   const tr4::MoveableRecord& m, tr4::Keyframe& out,
                   std::vector<std::string>& warnings, const std::string& name) {
    const tr4::AnimationRange range = tr4::AnimationsOf(level, m);
    for (uint32_t a = range.first; a < range.end && a < animations.size(); ++a) {
        if (animations[a].KeyframeCount() == 0) continue;
        std::string why;
        if (tr4::ReadKeyframe(level, animations[a], 0, m.meshCount, out, why)) return true;
        warnings.push_back(name + ": animation " + std::to_string(a) + ": " + why +
                           "; shown in its rest pose");
        return false;
    }
    return false;
}

}  // namespace tr4export
