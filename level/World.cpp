#include "World.h"

#include <cstring>

namespace tr4 {
namespace {

// Reads little-endian fields of one record in order; the records are whole, so the caller has
// already bounded them.
class Fields {
  public:
    explicit Fields(const uint8_t* at) : at(at) {}
    template <typename T>
    T Take() {
        T value;
        std::memcpy(&value, at, sizeof value);
        at += sizeof value;
        return value;
    }
    template <typename T>
    void Take(T& value) {
        value = Take<T>();
    }

  private:
    const uint8_t* at;
};

template <typename T, typename Read>
std::vector<T> Records(const Bytes& bytes, size_t size, Read read) {
    std::vector<T> out(bytes.size() / size);
    for (size_t i = 0; i < out.size(); ++i) {
        Fields f(bytes.data() + i * size);
        read(f, out[i]);
    }
    return out;
}

}  // namespace

RoomInfo ReadRoomInfo(const RoomRecord& room) {
    RoomInfo info;
    Fields f(room.info.data());
    f.Take(info.x);
    f.Take(info.z);
    f.Take(info.yBottom);
    f.Take(info.yTop);
    info.ambient = uint32_t{room.colour[0]} | uint32_t{room.colour[1]} << 16;
    info.alternate = static_cast<int16_t>(room.extraWord1);
    info.flags = room.extraWord2;
    info.waterScheme = room.extraBytes[0];
    info.reverb = room.extraBytes[1];
    info.alternateGroup = room.extraBytes[2];
    return info;
}

std::vector<RoomVertex> RoomVertices(const RoomRecord& room) {
    return Records<RoomVertex>(room.vertices, 12, [](Fields& f, RoomVertex& v) {
        f.Take(v.x);
        f.Take(v.y);
        f.Take(v.z);
        f.Take(v.lighting);
        f.Take(v.attributes);
        f.Take(v.colour);
    });
}

std::vector<RoomFace> RoomFaces(const RoomRecord& room) {
    std::vector<RoomFace> faces =
        Records<RoomFace>(room.rectangles, 10, [](Fields& f, RoomFace& r) {
            r.quad = true;
            for (uint16_t& v : r.vertices) f.Take(v);
            f.Take(r.texture);
        });
    const std::vector<RoomFace> triangles =
        Records<RoomFace>(room.triangles, 8, [](Fields& f, RoomFace& t) {
            for (int k = 0; k < 3; ++k) f.Take(t.vertices[k]);
            f.Take(t.texture);
        });
    faces.insert(faces.end(), triangles.begin(), triangles.end());
    return faces;
}

std::optional<RoomSector> SectorAt(const RoomRecord& room, int ix, int iz) {
    if (ix < 0 || iz < 0 || ix >= room.sectorCountX || iz >= room.sectorCountZ) return std::nullopt;
    const size_t index = static_cast<size_t>(iz) + static_cast<size_t>(ix) * room.sectorCountZ;
    if ((index + 1) * 8 > room.sectors.size()) return std::nullopt;
    Fields f(room.sectors.data() + index * 8);
    RoomSector s;
    f.Take(s.floorData);
    f.Take(s.box);
    f.Take(s.roomBelow);
    f.Take(s.floor);
    f.Take(s.roomAbove);
    f.Take(s.ceiling);
    return s;
}

std::vector<RoomLight> RoomLights(const RoomRecord& room) {
    return Records<RoomLight>(room.lights, 46, [](Fields& f, RoomLight& l) {
        f.Take(l.x);
        f.Take(l.y);
        f.Take(l.z);
        f.Take(l.red);
        f.Take(l.green);
        f.Take(l.blue);
        f.Take(l.type);
        f.Take<uint8_t>();  // unknown
        f.Take(l.intensity);
        f.Take(l.in);
        f.Take(l.out);
        f.Take(l.length);
        f.Take(l.cutoff);
        f.Take(l.dx);
        f.Take(l.dy);
        f.Take(l.dz);
    });
}

std::vector<StaticPlacement> StaticPlacements(const RoomRecord& room) {
    return Records<StaticPlacement>(room.statics, 20, [](Fields& f, StaticPlacement& s) {
        f.Take(s.x);
        f.Take(s.y);
        f.Take(s.z);
        f.Take(s.rotation);
        f.Take(s.tint);
        f.Take<uint16_t>();  // unused
        f.Take(s.staticId);
    });
}

std::vector<Item> Items(const Level& level) {
    return Records<Item>(level.items, 24, [](Fields& f, Item& i) {
        f.Take(i.moveable);
        f.Take(i.room);
        f.Take(i.x);
        f.Take(i.y);
        f.Take(i.z);
        f.Take(i.angle);
        f.Take(i.intensity);
        f.Take(i.ocb);
        f.Take(i.flags);
    });
}

}  // namespace tr4
