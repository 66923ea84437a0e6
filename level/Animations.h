#pragma once
// A moveable's animations and the keyframes they store: which animations belong to which
// moveable, and each keyframe's box, root offset and part rotations. Angles are radians, for the
// level's axes (y down), each part turned by Ry(y) Rx(x) Rz(z) with standard right-handed
// matrices.
#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "Level.h"

namespace tr4 {

struct AnimationRecord {
    uint32_t frameOffset = 0;  // byte offset of the first keyframe in the frames
    uint8_t frameRate = 0;     // game frames per stored keyframe (30 game frames a second)
    uint8_t frameSize = 0;     // 16-bit words per keyframe; 0: no keyframes stored
    uint16_t stateId = 0;
    int32_t speed = 0, accel = 0, lateralSpeed = 0, lateralAccel = 0;  // 16.16, units per frame
    uint16_t frameStart = 0, frameEnd = 0;
    uint16_t nextAnimation = 0, nextFrame = 0;
    uint16_t stateChangeCount = 0, stateChangeIndex = 0;
    uint16_t commandCount = 0, commandIndex = 0;

    // Keyframes the record stores (0 when it stores none): one every frameRate game frames from
    // frameStart to frameEnd, both included; a one-keyframe stub has frameEnd 0xFFFF.
    uint32_t KeyframeCount() const;
};
std::vector<AnimationRecord> Animations(const Level& level);

// The animations of moveable: from its first up to the next larger first animation of any
// moveable, or the last animation. Empty when it has none (0xFFFF) or names none that exists.
struct AnimationRange {
    uint32_t first = 0, end = 0;
    bool empty() const { return end <= first; }
};
AnimationRange AnimationsOf(const Level& level, const MoveableRecord& moveable);

struct Keyframe {
    int16_t box[6] = {};     // minX, maxX, minY, maxY, minZ, maxZ of the posed object
    int16_t offset[3] = {};  // translation of the root part
    std::vector<std::array<double, 3>> rotations;  // x, y, z angles of each part
};

// Keyframe k of animation for a moveable of partCount parts. False, with why set, when the
// keyframe lies outside the frames or its rotations run past the keyframe.
bool ReadKeyframe(const Level& level, const AnimationRecord& animation, uint32_t k,
                  uint32_t partCount, Keyframe& out, std::string& why);

}  // namespace tr4
