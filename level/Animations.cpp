#include "Animations.h"

#include <algorithm>
#include <cstring>
#include <numbers>

namespace tr4 {
namespace {

constexpr size_t kAnimationBytes = 40;
constexpr uint32_t kHeaderWords = 9;  // box (6) and root offset (3)
constexpr double kTwoPi = 2 * std::numbers::pi;

}  // namespace

uint32_t AnimationRecord::KeyframeCount() const {
    if (frameSize == 0) return 0;
    if (frameEnd == 0xFFFF || frameEnd <= frameStart) return 1;
    const uint32_t rate = std::max<uint32_t>(frameRate, 1);
    return (uint32_t{frameEnd} - frameStart + rate - 1) / rate + 1;
}

std::vector<AnimationRecord> Animations(const Level& level) {
    std::vector<AnimationRecord> out(level.animations.size() / kAnimationBytes);
    for (size_t i = 0; i < out.size(); ++i) {
        const uint8_t* at = level.animations.data() + i * kAnimationBytes;
        AnimationRecord& a = out[i];
        auto take = [&](auto& field) {
            std::memcpy(&field, at, sizeof field);
            at += sizeof field;
        };
        take(a.frameOffset);
        take(a.frameRate);
        take(a.frameSize);
        take(a.stateId);
        take(a.speed);
        take(a.accel);
        take(a.lateralSpeed);
        take(a.lateralAccel);
        take(a.frameStart);
        take(a.frameEnd);
        take(a.nextAnimation);
        take(a.nextFrame);
        take(a.stateChangeCount);
        take(a.stateChangeIndex);
        take(a.commandCount);
        take(a.commandIndex);
    }
    return out;
}

AnimationRange AnimationsOf(const Level& level, const MoveableRecord& moveable) {
    const uint32_t count = static_cast<uint32_t>(level.animations.size() / kAnimationBytes);
    AnimationRange range;
    if (moveable.animation == 0xFFFF || moveable.animation >= count) return range;
    range.first = moveable.animation;
    range.end = count;
    for (const MoveableRecord& other : level.moveables)
        if (other.animation != 0xFFFF && other.animation > range.first &&
            other.animation < range.end)
            range.end = other.animation;
    return range;
}

bool ReadKeyframe(const Level& level, const AnimationRecord& animation, uint32_t k,
                  uint32_t partCount, Keyframe& out, std::string& why) {
    out.rotations.clear();
    if (animation.frameSize == 0 || k >= animation.KeyframeCount()) {
        why = "the animation stores no keyframe " + std::to_string(k);
        return false;
    }
    // Offsets are in bytes of the 16-bit frame words.
    const uint64_t first = animation.frameOffset / 2 + uint64_t{k} * animation.frameSize;
    const uint64_t end = first + animation.frameSize;
    if (animation.frameOffset % 2 != 0 || end > level.frames.size() ||
        animation.frameSize < kHeaderWords) {
        why = "keyframe " + std::to_string(k) + " lies outside the frames";
        return false;
    }
    const uint16_t* words = level.frames.data() + first;
    for (int c = 0; c < 6; ++c) out.box[c] = static_cast<int16_t>(words[c]);
    for (int c = 0; c < 3; ++c) out.offset[c] = static_cast<int16_t>(words[6 + c]);
    uint64_t at = first + kHeaderWords;
    out.rotations.reserve(partCount);
    for (uint32_t part = 0; part < partCount; ++part) {
        if (at >= end) {
            why = "keyframe " + std::to_string(k) + " ends before the rotation of part " +
                  std::to_string(part);
            return false;
        }
        const uint16_t w = level.frames[at++];
        std::array<double, 3> angles{};
        const unsigned axis = w >> 14;
        if (axis == 0) {
            if (at >= end) {
                why = "keyframe " + std::to_string(k) + " ends inside the rotation of part " +
                      std::to_string(part);
                return false;
            }
            const uint16_t w2 = level.frames[at++];
            // Three angles of ten bits across two words: 1024 is a whole turn.
            angles[0] = ((w >> 4) & 0x3FF) * kTwoPi / 1024;
            angles[1] = (((w & 0xF) << 6) | (w2 >> 10)) * kTwoPi / 1024;
            angles[2] = (w2 & 0x3FF) * kTwoPi / 1024;
        } else {
            // One axis of twelve bits: 4096 is a whole turn.
            angles[axis - 1] = (w & 0x0FFF) * kTwoPi / 4096;
        }
        out.rotations.push_back(angles);
    }
    return true;
}

}  // namespace tr4
