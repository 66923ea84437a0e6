#include "MoveableAnimations.h"

#include <algorithm>
#include <cstring>

#include "JsonOut.h"

namespace tr4export {
namespace {

constexpr double kGameFramesPerSecond = 30;

// Operands each animation command takes, by its code.
int OperandsOf(int code) {
    switch (code) {
        case 1:  // set position: x, y, z
            return 3;
        case 2:  // jump: vertical and horizontal speed
        case 5:  // sound: frame, sound
        case 6:  // effect: frame, effect
            return 2;
        case 3:  // empty hands
        case 4:  // kill
            return 0;
        default:
            return -1;
    }
}

// The animation's record, its state changes and its commands (bounded by their tables), as the
// JSON text of its extras, into text. They are written as text rather than built as glTF values:
// for the player's few hundred animations those values were a tenth of the export. Members come
// in the order of their names, as the library's own objects keep them.
void WriteExtras(const tr4::Level& level, const tr4::AnimationRecord& a, const std::string& who,
                 std::vector<std::string>& warnings, std::string& text) {
    const size_t changes = level.stateChanges.size() / 6,
                 dispatches = level.animDispatches.size() / 8;
    bool cut = false;
    std::string changesText;
    {
        JsonOut j(changesText);
        j.BeginArray();
        for (uint32_t i = 0; i < a.stateChangeCount; ++i) {
            const size_t c = size_t{a.stateChangeIndex} + i;
            if (c >= changes) {
                cut = true;
                break;
            }
            uint16_t fields[3];
            std::memcpy(fields, level.stateChanges.data() + c * 6, 6);
            j.BeginObject();
            j.Key("dispatches");
            j.BeginArray();
            for (uint32_t d = 0; d < fields[1]; ++d) {
                const size_t at = size_t{fields[2]} + d;
                if (at >= dispatches) {
                    cut = true;
                    break;
                }
                int16_t dispatch[4];
                std::memcpy(dispatch, level.animDispatches.data() + at * 8, 8);
                j.BeginObject();
                j.IntMember("high", dispatch[1]);
                j.IntMember("low", dispatch[0]);
                j.IntMember("nextAnimation", dispatch[2]);
                j.IntMember("nextFrame", dispatch[3]);
                j.EndObject();
            }
            j.EndArray();
            j.IntMember("stateId", fields[0]);
            j.EndObject();
        }
        j.EndArray();
    }

    text.clear();
    JsonOut j(text);
    j.BeginObject();
    // Level units per game frame, from 16.16 fixed point.
    j.RealMember("accel", a.accel / 65536.0);
    j.Key("commands");
    j.BeginArray();
    size_t word = a.commandIndex;
    for (uint32_t i = 0; i < a.commandCount && !cut; ++i) {
        if (word >= level.animCommands.size()) {
            cut = true;
            break;
        }
        const int code = static_cast<int16_t>(level.animCommands[word++]);
        const int operands = OperandsOf(code);
        if (operands < 0 || word + size_t(operands) > level.animCommands.size()) {
            cut = true;
            break;
        }
        j.BeginObject();
        j.IntMember("code", code);
        j.Key("operands");
        j.BeginArray();
        for (int k = 0; k < operands; ++k) j.Int(static_cast<int16_t>(level.animCommands[word++]));
        j.EndArray();
        j.EndObject();
    }
    j.EndArray();
    j.IntMember("frameEnd", a.frameEnd);
    j.IntMember("frameRate", a.frameRate);
    j.IntMember("frameStart", a.frameStart);
    j.RealMember("lateralAccel", a.lateralAccel / 65536.0);
    j.RealMember("lateralSpeed", a.lateralSpeed / 65536.0);
    j.IntMember("nextAnimation", a.nextAnimation);
    j.IntMember("nextFrame", a.nextFrame);
    j.RealMember("speed", a.speed / 65536.0);
    j.Key("stateChanges");
    j.Raw(changesText);
    j.IntMember("stateId", a.stateId);
    j.EndObject();
    if (cut)
        warnings.push_back(who +
                           ": its state changes or commands run past their tables; "
                           "those within them are kept");
}

}  // namespace

uint32_t ReadableKeyframes(const tr4::Level& level, const tr4::AnimationRecord& a) {
    if (a.frameSize == 0) return 0;
    const uint64_t first = a.frameOffset / 2;
    if (first >= level.frames.size()) return 0;
    return static_cast<uint32_t>(
        std::min<uint64_t>(a.KeyframeCount(), (level.frames.size() - first) / a.frameSize));
}

int AddAnimations(ModelBuilder& b, tinygltf::Model& model, const tr4::Level& level,
                  const std::vector<tr4::AnimationRecord>& animations, const tr4::MoveableRecord& m,
                  const MoveableNodes& nodes, const std::string& name,
                  std::vector<std::string>& warnings) {
    const tr4::AnimationRange range = tr4::AnimationsOf(level, m);
    if (range.empty()) warnings.push_back(name + ": it has no animations");
    int written = 0, empty = 0;
    const size_t partCount = nodes.parts.size();
    tr4::Keyframe keyframe;
    const bool anyFlat =
        std::find(nodes.flattened.begin(), nodes.flattened.end(), true) != nodes.flattened.end();
    // Thousands of accessors and channels: made in place rather than grown by copying.
    size_t channels = 0;
    for (size_t p = 0; p < partCount; ++p)
        channels += 1 + (nodes.tree[p].parent < 0 || nodes.flattened[p] ? 1 : 0);
    const size_t most = range.end > range.first ? range.end - range.first : 0;
    model.animations.reserve(model.animations.size() + most);
    b.ReserveAccessors(most * (1 + channels));
    // Only the parts with a translation channel have their places kept.
    std::vector<bool> moves(partCount);
    for (size_t p = 0; p < partCount; ++p)
        moves[p] = nodes.tree[p].parent < 0 || nodes.flattened[p];
    std::vector<PartPose> pose;
    // Made once and refilled by each animation.
    std::vector<float> times;
    std::vector<std::vector<float>> turns(partCount), places(partCount);
    std::string extras;
    // Each keyframe read adds a time, every part's turn and the moving parts' places.
    size_t movers = 0;
    for (size_t p = 0; p < partCount; ++p) movers += moves[p];
    uint64_t keyframes = 0;
    for (uint32_t index = range.first; index < range.end && index < animations.size(); ++index)
        keyframes += ReadableKeyframes(level, animations[index]);
    b.ReserveAnimationData(keyframes * sizeof(float) * (1 + 4 * partCount + 3 * movers));
    for (uint32_t index = range.first; index < range.end && index < animations.size(); ++index) {
        const tr4::AnimationRecord& a = animations[index];
        const std::string who = name + " animation " + std::to_string(index);
        if (a.KeyframeCount() == 0) {
            ++empty;
            continue;
        }
        // Every part's place and turn at every keyframe that can be read.
        times.clear();
        times.reserve(a.KeyframeCount());
        for (size_t p = 0; p < partCount; ++p) {
            turns[p].clear();
            turns[p].reserve(size_t{a.KeyframeCount()} * 4);
            places[p].clear();
            if (moves[p]) places[p].reserve(size_t{a.KeyframeCount()} * 3);
        }
        for (uint32_t k = 0; k < a.KeyframeCount(); ++k) {
            std::string why;
            if (!tr4::ReadKeyframe(level, a, k, m.meshCount, keyframe, why)) {
                warnings.push_back(who + ": " + why + "; " + std::to_string(k) +
                                   " keyframe(s) kept");
                break;
            }
            times.push_back(
                static_cast<float>(k * std::max<int>(a.frameRate, 1) / kGameFramesPerSecond));
            Pose(nodes.tree, &keyframe, b.Scale(), anyFlat, pose);
            for (size_t p = 0; p < partCount; ++p) {
                const bool flat = nodes.flattened[p];
                const Quaternion& q = flat ? pose[p].objectQ : pose[p].q;
                for (double c : q) turns[p].push_back(static_cast<float>(c));
                if (!moves[p]) continue;
                const std::array<double, 3>& t = flat ? pose[p].objectT : pose[p].t;
                for (double c : t) places[p].push_back(static_cast<float>(c));
            }
        }
        if (times.empty()) continue;

        tinygltf::Animation animation;
        animation.name = "animation " + std::to_string(index);
        animation.samplers.reserve(channels);
        animation.channels.reserve(channels);
        const int input = b.AnimationAccessor(times, TINYGLTF_TYPE_SCALAR, true);
        auto channel = [&](int node, const char* path, const std::vector<float>& values, int type) {
            tinygltf::AnimationSampler sampler;
            sampler.input = input;
            sampler.output = b.AnimationAccessor(values, type, false);
            sampler.interpolation = "LINEAR";
            animation.samplers.push_back(std::move(sampler));
            tinygltf::AnimationChannel c;
            c.sampler = static_cast<int>(animation.samplers.size()) - 1;
            c.target_node = node;
            c.target_path = path;
            animation.channels.push_back(std::move(c));
        };
        for (size_t p = 0; p < partCount; ++p) {
            channel(nodes.parts[p], "rotation", turns[p], TINYGLTF_TYPE_VEC4);
            if (moves[p]) channel(nodes.parts[p], "translation", places[p], TINYGLTF_TYPE_VEC3);
        }
        WriteExtras(level, a, who, warnings, extras);
        animation.extras_json_string.assign(extras);
        model.animations.push_back(std::move(animation));
        ++written;
    }
    if (empty > 0)
        warnings.push_back(name + ": " + std::to_string(empty) +
                           " animation(s) store no keyframes and are left out");
    return written;
}

}  // namespace tr4export
