#include "MeshList.h"

#include <algorithm>
#include <memory>
#include <utility>

#include "Format.h"
#include "MemoryReader.h"

namespace tr4 {

Lista_Mesh::Lista_Mesh(size_t expectedBytes) : arena(std::max<size_t>(expectedBytes, 1024)) {}

Lista_Mesh::~Lista_Mesh() {
    while (head != nullptr) {
        MeshListNode* node = head;
        head = node->next;
        std::destroy_at(node);  // its memory goes with the arena
    }
    tail = nullptr;
}

MeshListNode* Lista_Mesh::MakeNode() {
    void* memory = arena.allocate(sizeof(MeshListNode), alignof(MeshListNode));
    return new (memory) MeshListNode(&arena);
}

void Lista_Mesh::Discard(MeshListNode* node) {
    std::destroy_at(node);
}

void Lista_Mesh::Add(std::unique_ptr<MeshRecord> record) {
    MeshListNode* node = MakeNode();
    node->record = std::move(*record);
    Link(node);
}

void Lista_Mesh::Link(MeshListNode* node) {
    node->next = nullptr;
    if (tail == nullptr) {
        head = node;
    } else {
        tail->next = node;
    }
    tail = node;
    byIndex.push_back(node);
    ++count;
}

int Lista_Mesh::GetRecord(int index, MeshRecord*& out) const {
    if (index < 0 || index >= count) return 0;
    out = &byIndex[static_cast<size_t>(index)]->record;
    return 1;
}

namespace {

template <class T>
bool ReadArray(MemoryReader& reader, int32_t count, std::pmr::vector<T>& out) {
    if (count <= 0) return true;
    if (!reader.Fits(static_cast<uint64_t>(count), sizeof(T))) {
        reader.Fail();
        return false;
    }
    out.resize(static_cast<size_t>(count));
    return reader.Read(out.data(), static_cast<uint32_t>(count * sizeof(T))) == 1;
}

// One mesh at the reader's position, or false when it runs past the end of the data.
bool DecodeMesh(MemoryReader& r, MeshRecord& m) {
    const uint32_t start = r.Position();
    m.offset = start;
    r.Read(&m.centreX, 2);
    r.Read(&m.centreY, 2);
    r.Read(&m.centreZ, 2);
    r.Read(&m.radius, 4);
    r.Read(&m.vertexCount, 2);
    if (!ReadArray(r, m.vertexCount, m.vertices)) return false;
    if (!r.Read(&m.normalCount, 2)) return false;
    if (m.normalCount > 0) {
        if (!ReadArray(r, m.normalCount, m.normals)) return false;
    } else if (m.normalCount < 0) {
        if (!ReadArray(r, -int32_t{m.normalCount}, m.shades)) return false;
    }
    if (!r.Read(&m.rectangleCount, 2) || !ReadArray(r, m.rectangleCount, m.rectangles))
        return false;
    if (!r.Read(&m.triangleCount, 2) || !ReadArray(r, m.triangleCount, m.triangles)) return false;
    if ((r.Position() - start) % 4 != 0) {
        uint16_t word = 0;
        if (!r.Read(&word, 2)) return false;
        m.alignmentWord = word;
    }
    return !r.Failed();
}

}  // namespace

static_assert(sizeof(MeshVertex) == 6 && sizeof(MeshRectangle) == 12 && sizeof(MeshTriangle) == 10,
              "mesh arrays are copied straight from the data");

namespace {

// What a decode of the mesh data will allocate, found by walking it with nothing copied.
struct MeshDataMeasure {
    uint64_t meshes = 0;
    uint64_t arrayBytes = 0;
};

MeshDataMeasure Measure(const uint8_t* data, uint32_t size) {
    MeshDataMeasure m;
    MemoryReader r;
    r.Init(size, data);
    auto skip = [&](int32_t count, uint32_t element) {
        if (count <= 0) return true;
        if (!r.Fits(static_cast<uint64_t>(count), element)) return false;
        r.Take(static_cast<uint32_t>(count) * element);
        // Each array is aligned within the arena; 8 bytes covers the padding.
        m.arrayBytes += static_cast<uint64_t>(count) * element + 8;
        return true;
    };
    while (r.Remaining() > 0) {
        const uint32_t start = r.Position();
        uint8_t head[10];
        int16_t count = 0;
        if (!r.Read(head, sizeof head) || !r.Read(&count, 2) || !skip(count, 6)) break;
        if (!r.Read(&count, 2)) break;
        if (!(count > 0 ? skip(count, 6) : skip(-int32_t{count}, 2))) break;
        if (!r.Read(&count, 2) || !skip(count, 12)) break;
        if (!r.Read(&count, 2) || !skip(count, 10)) break;
        if ((r.Position() - start) % 4 != 0 && !r.Read(&count, 2)) break;
        ++m.meshes;
    }
    return m;
}

}  // namespace

int DecodeMeshes(const uint8_t* data, uint32_t size, std::unique_ptr<Lista_Mesh>& list,
                 std::vector<std::string>* warnings, MemoryBudget* budget, std::string* refused) {
    MemoryReader reader;
    reader.Init(size, data);
    if (size == 0) return 0;
    // One walk without copying tells how many records and array bytes there are, so the arena is
    // made once at its size and the index never regrows: memory in proportion to the data. The
    // same figures are what the budget is asked for.
    const MeshDataMeasure measure = Measure(data, size);
    if (budget) {
        const uint64_t bytes = measure.meshes * (sizeof(MeshListNode) + sizeof(MeshListNode*)) +
                               measure.arrayBytes + sizeof(Lista_Mesh) + 1024;
        std::string error;
        if (!budget->Take(bytes, "the decoded meshes", error)) {
            if (refused) *refused = std::move(error);
            return -1;
        }
    }
    list = std::make_unique<Lista_Mesh>(
        static_cast<size_t>(measure.meshes * sizeof(MeshListNode) + measure.arrayBytes));
    list->Reserve(static_cast<size_t>(measure.meshes) + 1);
    while (reader.Remaining() > 0) {
        MeshListNode* node = list->MakeNode();
        MeshRecord* record = &node->record;
        if (!DecodeMesh(reader, *record)) {
            const uint32_t offset = record->offset;
            list->Discard(node);
            if (warnings) {
                warnings->push_back(
                    Format("mesh %d at byte %u runs past the end of the mesh data (%u bytes); "
                           "dropped",
                           list->Count(), offset, size));
            }
            break;
        }
        list->Link(node);
    }
    return 1;
}

}  // namespace tr4
