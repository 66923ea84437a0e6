#pragma once
// The meaning of the level's rooms and the things placed in them: room geometry and its vertex
// colours, the lights, the static placements and the items. The parse keeps these as raw records;
// this reads them field by field, little-endian, bounded by the records' own sizes. Level units:
// 1024 = one floor sector; y points down.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "Level.h"

namespace tr4 {

struct RoomInfo {
    int32_t x = 0, z = 0;           // world position of the room's sector grid
    int32_t yBottom = 0, yTop = 0;  // lowest and highest y (yTop <= yBottom)
    uint32_t ambient = 0;           // ARGB
    int16_t alternate = -1;         // the room that replaces this one when the level flips, or -1
    uint16_t flags = 0;             // bit 0 water, bit 3 sky, bit 9 reflective
    uint8_t waterScheme = 0, reverb = 0, alternateGroup = 0;
};
RoomInfo ReadRoomInfo(const RoomRecord& room);

struct RoomVertex {
    int16_t x = 0, y = 0, z = 0;  // x and z from the room's position; y absolute
    int16_t lighting = 0;
    uint16_t attributes = 0;  // bit 13 waves, bit 14 caustics
    uint16_t colour = 0;      // RGB555: red bits 10-14, green 5-9, blue 0-4
};
std::vector<RoomVertex> RoomVertices(const RoomRecord& room);

struct RoomFace {
    bool quad = false;
    uint16_t vertices[4] = {};
    uint16_t texture = 0;  // object texture index in bits 0-14; bit 15: seen from both sides
    int CornerCount() const { return quad ? 4 : 3; }
    uint16_t ObjectTexture() const { return texture & 0x7FFF; }
    bool DoubleSided() const { return (texture & 0x8000) != 0; }
};
// Rectangles, then triangles, in stored order.
std::vector<RoomFace> RoomFaces(const RoomRecord& room);

struct RoomSector {
    uint16_t floorData = 0, box = 0;
    uint8_t roomBelow = 0xFF, roomAbove = 0xFF;
    int8_t floor = 0, ceiling = 0;  // heights in steps of 256 units
};
// Sector (ix, iz) of the room's grid, or none outside it.
std::optional<RoomSector> SectorAt(const RoomRecord& room, int ix, int iz);

struct RoomLight {
    enum Type : uint8_t { Sun = 0, Point = 1, Spot = 2, Shadow = 3, FogBulb = 4 };
    int32_t x = 0, y = 0, z = 0;  // world
    uint8_t red = 0, green = 0, blue = 0;
    uint8_t type = 0;
    uint8_t intensity = 0;
    float in = 0, out = 0, length = 0, cutoff = 0;  // spots: cosines, distances; points: distances
    float dx = 0, dy = 0, dz = 0;                   // direction of suns and spots
};
std::vector<RoomLight> RoomLights(const RoomRecord& room);

struct StaticPlacement {
    int32_t x = 0, y = 0, z = 0;  // world
    uint16_t rotation = 0;        // about the vertical, 65536 = a whole turn
    uint16_t tint = 0;            // RGB555
    uint16_t staticId = 0;        // the id of a static record
};
std::vector<StaticPlacement> StaticPlacements(const RoomRecord& room);

struct Item {
    int16_t moveable = 0;  // the id of a moveable record
    int16_t room = 0;
    int32_t x = 0, y = 0, z = 0;  // world; the object's origin is at its base
    uint16_t angle = 0;           // about the vertical, 65536 = a whole turn
    int16_t intensity = -1;
    int16_t ocb = 0;
    uint16_t flags = 0;  // bit 8 invisible, bits 9-13 activation mask
};
std::vector<Item> Items(const Level& level);

}  // namespace tr4
