#pragma once
// Rotations as glTF quaternions (x, y, z, w). Inline: an animated export turns every part of
// every keyframe, hundreds of thousands of products, and a call each cost more than the sums.
#include <array>
#include <cmath>
#include <cstddef>
#include <cstdlib>
#include <memory>

namespace tr4export {

using Quaternion = std::array<double, 4>;

// A turn of radians about one axis: 0 x, 1 y, 2 z.
inline Quaternion AxisAngle(int axis, double radians) {
    // Keyframe turns come in steps of a 4096th of a turn, so the same few thousand angles recur
    // through every animation: their sines and cosines are remembered by step, the angle itself
    // kept as the key so that a hit gives exactly what computing it would.
    struct Remembered {
        bool known;  // false as the system zeroes it
        double radians, sine, cosine;
    };
    // Turns from one whole turn back to one whole turn forward, each step its own slot. Made on
    // first use and zeroed by the system: as a thread_local array it was copied, 192 KiB, into
    // every thread the process started.
    constexpr int kSteps = 4096;
    constexpr size_t kSlots = 2 * kSteps + 1;
    struct Free {
        void operator()(Remembered* r) const { std::free(r); }
    };
    thread_local std::unique_ptr<Remembered[], Free> remembered;
    constexpr double kStepsPerRadian = kSteps / (2 * 3.14159265358979323846);
    const double steps = radians * kStepsPerRadian + kSteps + 0.5;
    Remembered made{};
    Remembered* slot = &made;
    if (steps >= 0 && steps < kSlots) {  // NaN fails too
        if (!remembered)
            remembered.reset(static_cast<Remembered*>(std::calloc(kSlots, sizeof(Remembered))));
        if (remembered) slot = &remembered[static_cast<size_t>(steps)];
    }
    if (!slot->known || slot->radians != radians)
        *slot = {true, radians, std::sin(radians / 2), std::cos(radians / 2)};
    Quaternion q{0, 0, 0, slot->cosine};
    q[axis] = slot->sine;
    return q;
}

// The turn b, then a.
inline Quaternion Multiply(const Quaternion& a, const Quaternion& b) {
    return {a[3] * b[0] + a[0] * b[3] + a[1] * b[2] - a[2] * b[1],
            a[3] * b[1] - a[0] * b[2] + a[1] * b[3] + a[2] * b[0],
            a[3] * b[2] + a[0] * b[1] - a[1] * b[0] + a[2] * b[3],
            a[3] * b[3] - a[0] * b[0] - a[1] * b[1] - a[2] * b[2]};
}

}  // namespace tr4export
