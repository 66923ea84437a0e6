#include <algorithm>
#include <string>

#include "Format.h"
#include "LevelLoader.h"
#include "MemoryReader.h"

namespace tr4 {
namespace {

// One forward pass over the level data. Every read names the field it is for, so that when the
// data ends early, or a count claims more bytes than remain, the report can say exactly where the
// parse stopped. The reader's failure is sticky: after the first refusal nothing more is read and
// every field not yet reached keeps its empty value.
class Parser {
  public:
    Parser(Level& level, LoadReport& report) : level(level), report(report) {
        reader.Init(level.levelDataSize, level.levelData.data());
    }

    bool Ok() const { return !reader.Failed(); }

    template <class T>
    bool Field(const char* name, T& destination) {
        return Raw(name, &destination, sizeof(T));
    }

    bool Raw(const char* name, void* destination, uint32_t n) {
        if (reader.Failed()) return false;
        const uint32_t at = reader.Position();
        if (reader.Read(destination, n)) return true;
        Stop("level data ends inside %s at byte %u of %u", name, at, reader.Size());
        return false;
    }

    // count elements of elementSize bytes, checked against what remains before anything is made.
    template <class Vector>
    bool Array(const char* name, uint64_t count, uint32_t elementSize, Vector& out) {
        if (reader.Failed()) return false;
        if (count == 0) return true;
        if (!CheckFits(name, count, elementSize)) return false;
        const uint32_t bytes = static_cast<uint32_t>(count * elementSize);
        out.resize(bytes / sizeof(typename Vector::value_type));
        return reader.Read(out.data(), bytes) == 1;
    }

    // A count whose array could not be made is set back to 0, so that every count the Level
    // holds matches its array and no caller can be led past the end of one.
    template <class Count, class Vector>
    bool CountedArray(const char* countName, Count& count, const char* name, uint32_t elementSize,
                      Vector& out) {
        if (!Field(countName, count)) return false;
        if (Array(name, count, elementSize, out)) return true;
        count = 0;
        return false;
    }

    // The mesh data is what the viewer exists for: when the level data ends inside it, the whole
    // words that remain are kept (and counted), so the meshes they hold can still be decoded.
    bool MeshData() {
        uint32_t& count = level.meshDataWordCount;
        if (!Field("meshDataWordCount", count)) return false;
        if (reader.Fits(count, 2)) return Array("meshData", count, 2, level.meshData);
        const uint32_t kept = reader.Remaining() / 2;
        Stop(
            "meshData needs %llu bytes at byte %u, but only %u of %u remain; the %u whole words "
            "that remain are kept",
            static_cast<unsigned long long>(count) * 2, reader.Position(), reader.Remaining(),
            reader.Size(), kept);
        level.meshData.resize(kept);
        reader.Read(level.meshData.data(), kept * 2);
        count = kept;
        reader.Fail();
        return false;
    }

    bool Room(RoomRecord& room) {
        if (!Field("room info", room.info) || !Field("room dataWordCount", room.dataWordCount))
            return false;
        struct Geometry {
            const char* count;
            const char* array;
            int16_t& n;
            uint32_t size;
            Bytes& out;
        } geometry[] = {
            {"room vertexCount", "room vertices", room.vertexCount, 12, room.vertices},
            {"room rectangleCount", "room rectangles", room.rectangleCount, 10, room.rectangles},
            {"room triangleCount", "room triangles", room.triangleCount, 8, room.triangles},
            {"room spriteCount", "room sprites", room.spriteCount, 4, room.sprites},
        };
        for (Geometry& g : geometry) {
            if (!Field(g.count, g.n)) return false;
            if (g.n > 0 && !Array(g.array, uint64_t(g.n), g.size, g.out)) return false;
        }
        return CountedArray("room portalCount", room.portalCount, "room portals", 32,
                            room.portals) &&
               Field("room sectorCountZ", room.sectorCountZ) &&
               Field("room sectorCountX", room.sectorCountX) &&
               Array("room sectors", uint64_t(room.sectorCountZ) * room.sectorCountX, 8,
                     room.sectors) &&
               Field("room colour", room.colour[0]) && Field("room colour", room.colour[1]) &&
               CountedArray("room lightCount", room.lightCount, "room lights", 46, room.lights) &&
               CountedArray("room staticCount", room.staticCount, "room statics", 20,
                            room.statics) &&
               Field("room extraWord1", room.extraWord1) &&
               Field("room extraWord2", room.extraWord2) &&
               Field("room extraBytes", room.extraBytes);
    }

    bool Rooms() {
        if (!Field("reservedWord", level.reservedWord) || !Field("roomCount", level.roomCount))
            return false;
        // No room takes fewer than 49 bytes: reserve only what the data could hold.
        constexpr uint32_t kSmallestRoom = 49;
        level.rooms.reserve(
            std::min<uint32_t>(level.roomCount, reader.Remaining() / kSmallestRoom));
        for (uint32_t i = 0; i < level.roomCount; ++i) {
            RoomRecord room;
            const uint32_t at = reader.Position();
            if (!Room(room)) {
                report.AddToLastWarning(Format(" (room %u of %u, which starts at byte %u)", i,
                                               unsigned(level.roomCount), at));
                // Only whole rooms are kept, and the count says how many.
                level.roomCount = static_cast<uint16_t>(level.rooms.size());
                return false;
            }
            level.rooms.push_back(std::move(room));
        }
        return true;
    }

    // count records of recordSize bytes each, read field by field by readOne; checked against
    // what remains before any is made.
    template <class Count, class Record, class ReadOne>
    bool Records(const char* countName, Count& count, const char* name, uint32_t recordSize,
                 std::vector<Record>& out, ReadOne readOne) {
        if (!Field(countName, count)) return false;
        if (!CheckFits(name, count, recordSize)) {
            count = 0;
            return false;
        }
        out.resize(count);
        for (Record& record : out) readOne(record);
        return Ok();
    }

    bool Moveables() {
        return Records("moveableCount", level.moveableCount, "moveables", 18, level.moveables,
                       [this](MoveableRecord& m) {
                           Field("moveable id", m.id);
                           Field("moveable meshCount", m.meshCount);
                           Field("moveable firstMesh", m.firstMesh);
                           Field("moveable meshTree", m.meshTree);
                           Field("moveable frameOffset", m.frameOffset);
                           Field("moveable animation", m.animation);
                       });
    }

    bool ObjectTextures() {
        return Records("objectTextureCount", level.objectTextureCount, "objectTextures", 38,
                       level.objectTextures, [this](ObjectTexture& t) {
                           Field("object texture attribute", t.attribute);
                           Field("object texture tile", t.tile);
                           Field("object texture flags", t.flags);
                           for (ObjectTextureCorner& c : t.corners) {
                               Field("object texture corner", c.xCoordinate);
                               Field("object texture corner", c.xPixel);
                               Field("object texture corner", c.yCoordinate);
                               Field("object texture corner", c.yPixel);
                           }
                           Field("object texture baseU", t.baseU);
                           Field("object texture baseV", t.baseV);
                           Field("object texture width", t.width);
                           Field("object texture height", t.height);
                       });
    }

    bool CheckFits(const char* name, uint64_t count, uint32_t elementSize) {
        if (reader.Fits(count, elementSize)) return true;
        if (!reader.Failed()) {
            Stop("%s needs %llu bytes at byte %u, but only %u of %u remain", name,
                 static_cast<unsigned long long>(count * elementSize), reader.Position(),
                 reader.Remaining(), reader.Size());
            reader.Fail();
        }
        return false;
    }

    void Run() {
        Level& l = level;
        const bool complete =
            Rooms() &&
            CountedArray("floorDataCount", l.floorDataCount, "floorData", 2, l.floorData) &&
            MeshData() &&
            CountedArray("meshPointerCount", l.meshPointerCount, "meshPointers", 4,
                         l.meshPointers) &&
            CountedArray("animationCount", l.animationCount, "animations", 40, l.animations) &&
            CountedArray("stateChangeCount", l.stateChangeCount, "stateChanges", 6,
                         l.stateChanges) &&
            CountedArray("animDispatchCount", l.animDispatchCount, "animDispatches", 8,
                         l.animDispatches) &&
            CountedArray("animCommandCount", l.animCommandCount, "animCommands", 2,
                         l.animCommands) &&
            CountedArray("meshTreeCount", l.meshTreeCount, "meshTrees", 4, l.meshTrees) &&
            CountedArray("frameCount", l.frameCount, "frames", 2, l.frames) && Moveables() &&
            CountedArray("staticMeshCount", l.staticMeshCount, "staticMeshes", 32,
                         l.staticMeshes) &&
            Field("spriteMarker", l.spriteMarker) &&
            CountedArray("spriteTextureCount", l.spriteTextureCount, "spriteTextures", 16,
                         l.spriteTextures) &&
            CountedArray("spriteSequenceCount", l.spriteSequenceCount, "spriteSequences", 8,
                         l.spriteSequences) &&
            CountedArray("cameraCount", l.cameraCount, "cameras", 16, l.cameras) &&
            CountedArray("flybyCameraCount", l.flybyCameraCount, "flybyCameras", 40,
                         l.flybyCameras) &&
            CountedArray("soundSourceCount", l.soundSourceCount, "soundSources", 16,
                         l.soundSources) &&
            CountedArray("boxCount", l.boxCount, "boxes", 8, l.boxes) &&
            CountedArray("overlapCount", l.overlapCount, "overlaps", 2, l.overlaps) &&
            Array("zones", l.boxCount, 20, l.zones) &&
            CountedArray("animatedTextureCount", l.animatedTextureCount, "animatedTextures", 2,
                         l.animatedTextures) &&
            Field("textureMarker", l.textureMarker) && ObjectTextures() &&
            CountedArray("itemCount", l.itemCount, "items", 24, l.items) &&
            CountedArray("aiObjectCount", l.aiObjectCount, "aiObjects", 24, l.aiObjects) &&
            CountedArray("demoDataCount", l.demoDataCount, "demoData", 2, l.demoData) &&
            Field("soundMap", l.soundMap) &&
            CountedArray("soundDetailCount", l.soundDetailCount, "soundDetails", 8,
                         l.soundDetails) &&
            CountedArray("sampleIndexCount", l.sampleIndexCount, "sampleIndices", 4,
                         l.sampleIndices) &&
            Field("trailer", l.trailer);
        report.parseComplete = complete;
        report.parseEnd = reader.Position();
        if (complete && reader.Remaining() > 0) {
            report.Warn(
                Format("%u bytes of level data follow the trailer, unread", reader.Remaining()));
        }
    }

  private:
    template <class... Args>
    void Stop(const char* fmt, Args... args) {
        report.Warn(Format(fmt, args...));
    }

    Level& level;
    LoadReport& report;
    MemoryReader reader;
};

}  // namespace

int ParseLevelData(Level& level, LoadReport* report) {
    LoadReport local;
    Parser parser(level, report ? *report : local);
    parser.Run();
    return 1;
}

}  // namespace tr4
