// Animations of the real level's moveables, posed from the exported file and held against the
// box the level stores with each keyframe: a wrong bit width, axis order or sign in the
// rotations moves the posed parts away from it.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <map>

#include "ExportSupport.h"

namespace exporttest {
namespace {

constexpr double kScale = tr4export::kDefaultScale;
using Vec = std::array<double, 3>;

tinygltf::Model Animated(uint32_t id) {
    tr4export::ExportRequest r;
    r.kind = tr4export::ExportRequest::Kind::Moveable;
    r.id = id;
    r.animations = true;
    tinygltf::Model model;
    EXPECT_TRUE(ExportAndRead(r, "animated-" + std::to_string(id) + ".glb", model));
    return model;
}

// The level's own record of animation index: its first keyframe's offset and the words per
// keyframe, read from the raw 40-byte record.
struct Stored {
    uint32_t frameOffset;
    uint8_t frameSize;
};
Stored StoredAnimation(const tr4::Level& level, int index) {
    Stored s;
    std::memcpy(&s.frameOffset, level.animations.data() + index * 40, 4);
    s.frameSize = level.animations[index * 40 + 5];
    return s;
}

// The object's box (level axes, object space) with the file's animation posed at keyframe k:
// every part's mesh but the joint pieces, placed by the node hierarchy under the object node.
std::array<double, 6> PosedBox(const tinygltf::Model& model, const tinygltf::Animation& a,
                               size_t k) {
    std::vector<tinygltf::Node> nodes = model.nodes;
    for (const tinygltf::AnimationChannel& c : a.channels) {
        const std::vector<float> values = Floats(model, a.samplers[c.sampler].output);
        const size_t n = c.target_path == "rotation" ? 4 : 3;
        std::vector<double>& into = c.target_path == "rotation" ? nodes[c.target_node].rotation
                                                                : nodes[c.target_node].translation;
        into.assign(values.begin() + k * n, values.begin() + (k + 1) * n);
    }
    std::array<double, 6> box{1e9, -1e9, 1e9, -1e9, 1e9, -1e9};
    std::vector<std::pair<int, Matrix>> stack{{model.scenes[0].nodes[0], Local(tinygltf::Node{})}};
    while (!stack.empty()) {
        const auto [node, parent] = stack.back();
        stack.pop_back();
        const Matrix m = Times(parent, Local(nodes[node]));
        const tinygltf::Node& n = nodes[node];
        if (n.mesh >= 0 && !n.name.ends_with(" joint")) {
            for (const tinygltf::Primitive& p : model.meshes[n.mesh].primitives) {
                const std::vector<float> pos = Floats(model, p.attributes.at("POSITION"));
                for (size_t i = 0; i + 2 < pos.size(); i += 3) {
                    const double x = m[0] * pos[i] + m[4] * pos[i + 1] + m[8] * pos[i + 2] + m[12];
                    const double y = m[1] * pos[i] + m[5] * pos[i + 1] + m[9] * pos[i + 2] + m[13];
                    const double z = m[2] * pos[i] + m[6] * pos[i + 1] + m[10] * pos[i + 2] + m[14];
                    // Back to the level's axes and units: (-x, -y, z) / scale.
                    const Vec l{-x / kScale, -y / kScale, z / kScale};
                    for (int c = 0; c < 3; ++c) {
                        box[2 * c] = std::min(box[2 * c], l[c]);
                        box[2 * c + 1] = std::max(box[2 * c + 1], l[c]);
                    }
                }
            }
        }
        for (int child : n.children) stack.push_back({child, m});
    }
    return box;
}

// Mean difference over the six sides between the posed and the stored boxes of keyframes 0 and
// the middle one of every animation of moveable id; and how many animations were compared.
std::pair<double, int> BoxDifference(uint32_t id) {
    const RealLevel* real = Real();
    const tinygltf::Model model = Animated(id);
    double total = 0;
    int sides = 0, animations = 0;
    for (const tinygltf::Animation& a : model.animations) {
        const int index = std::stoi(a.name.substr(10));
        const Stored stored = StoredAnimation(real->level, index);
        const size_t keyframes = model.accessors[a.samplers[0].input].count;
        for (size_t k : {size_t{0}, keyframes / 2}) {
            const std::array<double, 6> posed = PosedBox(model, a, k);
            const uint16_t* box =
                real->level.frames.data() + stored.frameOffset / 2 + k * stored.frameSize;
            for (int c = 0; c < 6; ++c) total += std::abs(posed[c] - int16_t(box[c]));
            sides += 6;
        }
        ++animations;
    }
    return {sides ? total / sides : 1e9, animations};
}

TEST(Animation, EveryAnimationOfThePlayerPosesHerIntoTheBoxesTheLevelStores) {
    const RealLevel* real = Real();
    ASSERT_TRUE(real);
    // Her animations with keyframes, counted from the raw records: from her first animation up to
    // the next moveable's, those whose keyframes have a size.
    const tr4::MoveableRecord& lara = real->level.moveables[0];
    ASSERT_EQ(lara.id, 0u);
    uint32_t end = uint32_t(real->level.animations.size() / 40);
    for (const tr4::MoveableRecord& m : real->level.moveables)
        if (m.animation != 0xFFFF && m.animation > lara.animation)
            end = std::min<uint32_t>(end, m.animation);
    int keyframed = 0;
    for (uint32_t a = lara.animation; a < end; ++a)
        keyframed += real->level.animations[a * 40 + 5] != 0;

    const auto [difference, animations] = BoxDifference(0);
    std::printf("the player: %d animations, posed boxes %.2f units from the stored ones\n",
                animations, difference);
    EXPECT_EQ(animations, keyframed);
    EXPECT_LE(difference, 8.0);
}

TEST(Animation, OtherAnimatedObjectsPoseIntoTheirStoredBoxes) {
    // Three of the level's animated objects whose parts turn away from their rest pose. (The
    // player's weapon animations, moveables 1 to 14, store her box, not theirs.)
    for (uint32_t id : {431u, 433u, 437u}) {
        const auto [difference, animations] = BoxDifference(id);
        std::printf("moveable %u: %d animation(s), posed boxes %.2f units from the stored ones\n",
                    id, animations, difference);
        EXPECT_GE(animations, 1) << "moveable " << id;
        EXPECT_LE(difference, 8.0) << "moveable " << id;
    }
}

TEST(Animation, KeysRunAtTheLevelsFrameRateAndCarryWhatGltfCannot) {
    const RealLevel* real = Real();
    ASSERT_TRUE(real);
    const tinygltf::Model model = Animated(0);
    ASSERT_FALSE(model.animations.empty());
    const tinygltf::Animation& a = model.animations[0];
    const int index = std::stoi(a.name.substr(10));
    const uint8_t* record = real->level.animations.data() + index * 40;
    const int frameRate = record[4];
    const std::vector<float> times = Floats(model, a.samplers[0].input);
    ASSERT_GT(times.size(), 1u);
    EXPECT_FLOAT_EQ(times[1], frameRate / 30.0f);
    EXPECT_EQ(a.extras.Get("frameRate").GetNumberAsInt(), frameRate);
    uint16_t stateId;
    std::memcpy(&stateId, record + 6, 2);
    EXPECT_EQ(a.extras.Get("stateId").GetNumberAsInt(), stateId);
    EXPECT_TRUE(a.extras.Get("stateChanges").IsArray());
    // Fifteen parts turn, the root moves too; the joint pieces ride on their parts.
    int rotations = 0, translations = 0;
    for (const tinygltf::AnimationChannel& c : a.channels)
        (c.target_path == "rotation" ? rotations : translations)++;
    EXPECT_EQ(rotations, 15);
    EXPECT_EQ(translations, 1);
    // The player is whole: the skin's meshes on her parts, the joints beside them.
    int joints = 0;
    for (const tinygltf::Node& n : model.nodes) joints += n.name.ends_with(" joint") && n.mesh >= 0;
    EXPECT_EQ(joints, 15);
}

TEST(Animation, ExtrasHoldEveryStateChangeAndCommandOfTheStoredRecords) {
    const RealLevel* real = Real();
    ASSERT_TRUE(real);
    const tr4::Level& level = real->level;
    const tinygltf::Model model = Animated(0);
    ASSERT_FALSE(model.animations.empty());
    auto word = [](const uint8_t* at) {
        uint16_t v;
        std::memcpy(&v, at, 2);
        return v;
    };
    int ranges = 0, commands = 0;
    for (const tinygltf::Animation& a : model.animations) {
        SCOPED_TRACE(a.name);
        const uint8_t* record = level.animations.data() + std::stoi(a.name.substr(10)) * 40;
        int32_t speed;
        std::memcpy(&speed, record + 8, 4);
        EXPECT_DOUBLE_EQ(a.extras.Get("speed").GetNumberAsDouble(), speed / 65536.0);
        EXPECT_EQ(a.extras.Get("nextAnimation").GetNumberAsInt(), word(record + 28));
        // Each state change and its dispatch ranges, read from the raw tables.
        const tinygltf::Value& changes = a.extras.Get("stateChanges");
        ASSERT_EQ(changes.ArrayLen(), word(record + 32));
        for (size_t c = 0; c < changes.ArrayLen(); ++c) {
            const uint8_t* change = level.stateChanges.data() + (word(record + 34) + c) * 6;
            EXPECT_EQ(changes.Get(int(c)).Get("stateId").GetNumberAsInt(), word(change));
            const tinygltf::Value& dispatches = changes.Get(int(c)).Get("dispatches");
            ASSERT_EQ(dispatches.ArrayLen(), word(change + 2));
            for (size_t d = 0; d < dispatches.ArrayLen(); ++d, ++ranges) {
                const uint8_t* range = level.animDispatches.data() + (word(change + 4) + d) * 8;
                const tinygltf::Value& r = dispatches.Get(int(d));
                EXPECT_EQ(r.Get("low").GetNumberAsInt(), int16_t(word(range)));
                EXPECT_EQ(r.Get("high").GetNumberAsInt(), int16_t(word(range + 2)));
                EXPECT_EQ(r.Get("nextAnimation").GetNumberAsInt(), int16_t(word(range + 4)));
                EXPECT_EQ(r.Get("nextFrame").GetNumberAsInt(), int16_t(word(range + 6)));
            }
        }
        // The commands follow one another in the command words, each code with its operands.
        const tinygltf::Value& list = a.extras.Get("commands");
        ASSERT_EQ(list.ArrayLen(), word(record + 36));
        size_t at = word(record + 38);
        for (size_t c = 0; c < list.ArrayLen(); ++c, ++commands) {
            EXPECT_EQ(list.Get(int(c)).Get("code").GetNumberAsInt(),
                      int16_t(level.animCommands[at++]));
            const tinygltf::Value& operands = list.Get(int(c)).Get("operands");
            for (size_t k = 0; k < operands.ArrayLen(); ++k)
                EXPECT_EQ(operands.Get(int(k)).GetNumberAsInt(), int16_t(level.animCommands[at++]));
        }
    }
    // The player's animations do change state and run commands.
    EXPECT_GT(ranges, 100);
    EXPECT_GT(commands, 50);
}

}  // namespace
}  // namespace exporttest
