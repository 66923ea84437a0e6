#pragma once
// The decoded meshes of a level: MeshRecord, the ordered Lista_Mesh that owns them, and
// DecodeMeshes, which walks the level's mesh data.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <memory_resource>
#include <optional>
#include <string>
#include <vector>

#include "MemoryBudget.h"

namespace tr4 {

struct MeshVertex {
    int16_t x = 0;
    int16_t y = 0;
    int16_t z = 0;
};

struct MeshRectangle {
    uint16_t indices[4] = {};
    uint16_t texture = 0;  // index into the level's objectTextures
    uint16_t faceFlags = 0;
};

struct MeshTriangle {
    uint16_t indices[3] = {};
    uint16_t texture = 0;
    uint16_t faceFlags = 0;
};

// The arrays of a record come from its list's arena when the decoder makes it (one block for a
// whole level instead of several allocations per mesh), or from the heap otherwise.
struct MeshRecord {
    MeshRecord() = default;
    explicit MeshRecord(std::pmr::memory_resource* arrays)
        : vertices(arrays),
          normals(arrays),
          shades(arrays),
          rectangles(arrays),
          triangles(arrays) {}

    uint32_t offset = 0;  // first byte of the mesh within the mesh data
    int16_t centreX = 0;
    int16_t centreY = 0;
    int16_t centreZ = 0;
    uint32_t radius = 0;
    int16_t vertexCount = 0;
    std::pmr::vector<MeshVertex> vertices;
    int16_t normalCount = 0;  // its sign tells normals from shades
    std::pmr::vector<MeshVertex> normals;
    std::pmr::vector<int16_t> shades;
    int16_t rectangleCount = 0;
    std::pmr::vector<MeshRectangle> rectangles;
    int16_t triangleCount = 0;
    std::pmr::vector<MeshTriangle> triangles;
    std::optional<uint16_t> alignmentWord;
};

struct MeshListNode {
    explicit MeshListNode(std::pmr::memory_resource* arrays) : record(arrays) {}
    MeshRecord record;
    MeshListNode* next = nullptr;
};

// The meshes of one level in mesh-data order. Index i is the same in the list box, in GetRecord
// and among the render meshes built for them. Besides the chain of nodes, the list keeps an index
// of them, so access by position is constant time for every caller. Nodes and their records' arrays
// live in an arena that the list owns, so a level's meshes cost a few large allocations and are
// freed at once.
class Lista_Mesh {
  public:
    // expectedBytes sizes the arena's first block; it grows as needed.
    explicit Lista_Mesh(size_t expectedBytes = 0);
    Lista_Mesh(const Lista_Mesh&) = delete;
    Lista_Mesh& operator=(const Lista_Mesh&) = delete;
    // Destroys the nodes from the front with their records.
    ~Lista_Mesh();

    void Add(std::unique_ptr<MeshRecord> record);
    // A node in the list's arena, not yet in the chain: fill its record, then Link or Discard it.
    MeshListNode* MakeNode();
    void Link(MeshListNode* node);
    void Discard(MeshListNode* node);
    // Room for n records, so a decode of known size appends without regrowing the index.
    void Reserve(size_t n) { byIndex.reserve(n); }
    // Stores record index in out and returns 1; 0 with out untouched when no node has that index.
    int GetRecord(int index, MeshRecord*& out) const;
    int Count() const { return count; }

    // The records in order, for a range-for: for (const MeshRecord& m : list).
    class Iterator {
      public:
        using value_type = MeshRecord;
        using difference_type = std::ptrdiff_t;
        Iterator() = default;
        explicit Iterator(const MeshListNode* node) : node(node) {}
        const MeshRecord& operator*() const { return node->record; }
        const MeshRecord* operator->() const { return &node->record; }
        Iterator& operator++() {
            node = node->next;
            return *this;
        }
        Iterator operator++(int) {
            Iterator before = *this;
            node = node->next;
            return before;
        }
        bool operator==(const Iterator&) const = default;

      private:
        const MeshListNode* node = nullptr;
    };
    Iterator begin() const { return Iterator(head); }
    Iterator end() const { return Iterator(); }

  private:
    MeshListNode* head = nullptr;
    MeshListNode* tail = nullptr;
    int32_t count = 0;
    std::pmr::monotonic_buffer_resource arena;
    std::vector<MeshListNode*> byIndex;
};

// Decodes the size bytes at data into a new list stored in list (replacing what list held).
// Returns 0 for empty data, without touching list; otherwise 1. Never reads past size: a mesh that
// runs past the end is dropped, and warnings (when given) say so. With a budget, the bytes the
// list will take are taken from it before anything is made; when it refuses, the result is -1,
// list is untouched and refused (when given) says why.
int DecodeMeshes(const uint8_t* data, uint32_t size, std::unique_ptr<Lista_Mesh>& list,
                 std::vector<std::string>* warnings = nullptr, MemoryBudget* budget = nullptr,
                 std::string* refused = nullptr);

}  // namespace tr4
