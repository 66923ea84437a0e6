// The glTF writer against the glTF library's own writer, an implementation we did not write: the
// same models written both ways and read back by the library must come out the same, in text and
// binary form, for every kind of export the real level gives.
#include <gtest/gtest.h>

#include <cstring>
#include <sstream>

#include "ExportSupport.h"
#include "GltfWriter.h"

namespace {

// Members whose value is null or an empty list: the library writes an empty list as null, where
// this writer keeps the list. Dropped from both sides before they are compared.
tinygltf::Value WithoutEmpty(const tinygltf::Value& v) {
    if (v.IsArray()) {
        tinygltf::Value::Array items;
        for (const tinygltf::Value& e : v.Get<tinygltf::Value::Array>())
            items.push_back(WithoutEmpty(e));
        return tinygltf::Value(std::move(items));
    }
    if (!v.IsObject()) return v;
    tinygltf::Value::Object members;
    for (const auto& [key, e] : v.Get<tinygltf::Value::Object>()) {
        if (e.Type() == tinygltf::NULL_TYPE || (e.IsArray() && e.ArrayLen() == 0)) continue;
        members[key] = WithoutEmpty(e);
    }
    return tinygltf::Value(std::move(members));
}

void DropEmpty(tinygltf::Model& m) {
    for (tinygltf::Animation& a : m.animations) a.extras = WithoutEmpty(a.extras);
    for (tinygltf::Node& n : m.nodes) n.extras = WithoutEmpty(n.extras);
}

bool Read(const std::string& bytes, bool binary, tinygltf::Model& out) {
    tinygltf::TinyGLTF gltf;
    std::string error, warn;
    const bool read =
        binary ? gltf.LoadBinaryFromMemory(&out, &error, &warn,
                                           reinterpret_cast<const unsigned char*>(bytes.data()),
                                           static_cast<unsigned>(bytes.size()))
               : gltf.LoadASCIIFromString(&out, &error, &warn, bytes.data(),
                                          static_cast<unsigned>(bytes.size()), "");
    EXPECT_TRUE(read) << error;
    EXPECT_EQ(warn, "");
    return read;
}

uint32_t Word(const std::string& bytes, size_t at) {
    uint32_t v;
    std::memcpy(&v, bytes.data() + at, 4);
    return v;
}

}  // namespace

TEST(GltfWriter, ReadsBackAsTheLibrarysOwnWriterDoesForEveryKindOfExport) {
    const exporttest::RealLevel* real = exporttest::Real();
    ASSERT_TRUE(real);
    using Kind = tr4export::ExportRequest::Kind;
    struct Case {
        const char* what;
        Kind kind;
        bool animations;
    };
    for (const Case& c :
         {Case{"every mesh", Kind::AllMeshes, false}, Case{"the level", Kind::Level, false},
          Case{"the player animated", Kind::Moveable, true}}) {
        for (bool binary : {true, false}) {
            SCOPED_TRACE(std::string(c.what) + (binary ? " as .glb" : " as .gltf"));
            tr4export::ExportRequest request;
            request.kind = c.kind;
            request.id = 0;
            request.animations = c.animations;
            request.binary = binary;
            tinygltf::Model model;
            std::vector<std::string> warnings;
            std::string error;
            ASSERT_TRUE(tr4export::BuildModel(real->level, real->list.get(), request, model,
                                              warnings, error))
                << error;

            std::ostringstream ours, theirs;
            ASSERT_TRUE(tr4export::WriteGltf(model, ours, binary, error)) << error;
            tinygltf::Model fromOurs, fromTheirs;
            ASSERT_TRUE(Read(ours.str(), binary, fromOurs));
            // An animation's extras come as JSON text, which the library does not write: it is
            // given them as the values it read (their content is checked against the level's
            // records in AnimationTest).
            tinygltf::Model asValues = model;
            for (size_t i = 0; i < asValues.animations.size(); ++i) {
                tinygltf::Animation& a = asValues.animations[i];
                if (a.extras_json_string.empty()) continue;
                ASSERT_TRUE(fromOurs.animations.at(i).extras.IsObject());
                a.extras = fromOurs.animations[i].extras;
            }
            tinygltf::TinyGLTF library;
            library.SetImageWriter(nullptr, nullptr);
            ASSERT_TRUE(library.WriteGltfSceneToStream(&asValues, theirs, false, binary));
            ASSERT_TRUE(Read(theirs.str(), binary, fromTheirs));
            DropEmpty(fromOurs);
            DropEmpty(fromTheirs);
            EXPECT_EQ(fromOurs.accessors.size(), model.accessors.size());
            EXPECT_TRUE(fromOurs == fromTheirs);

            if (binary) {
                // Built with the data left in pieces and the accessors as records, the file is
                // the same to the byte.
                tr4export::ModelBulk bulk;
                request.bulk = &bulk;
                tinygltf::Model pieces;
                ASSERT_TRUE(tr4export::BuildModel(real->level, real->list.get(), request, pieces,
                                                  warnings, error));
                std::ostringstream fromPieces;
                ASSERT_TRUE(tr4export::WriteGltf(pieces, fromPieces, true, error, &bulk));
                EXPECT_TRUE(pieces.accessors.empty());
                EXPECT_TRUE(fromPieces.str() == ours.str());

                // The container: its length, chunks on four-byte bounds, the buffer as it was.
                const std::string bytes = ours.str();
                ASSERT_GE(bytes.size(), 28u);
                EXPECT_EQ(bytes.substr(0, 4), "glTF");
                EXPECT_EQ(Word(bytes, 8), bytes.size());
                const uint32_t json = Word(bytes, 12);
                EXPECT_EQ(json % 4, 0u);
                const size_t bin = 20 + json;
                ASSERT_LE(bin + 8, bytes.size());
                EXPECT_EQ(Word(bytes, bin + 4), 0x004E4942u);
                EXPECT_EQ(Word(bytes, bin) % 4, 0u);
                const std::vector<uint8_t>& data = model.buffers.at(0).data;
                EXPECT_EQ(std::memcmp(bytes.data() + bin + 8, data.data(), data.size()), 0);
            }
        }
    }
}

TEST(GltfWriter, NamesOfAnyBytesStayReadable) {
    tinygltf::Model model;
    model.asset.version = "2.0";
    const std::string names[] = {"quote \" backslash \\ slash /", "tab\tnewline\ncontrol\x01 end",
                                 "caf\xC3\xA9 \xF0\x9D\x84\x9E",  // two and four bytes
                                 "cut \xC3",                      // a sequence cut short
                                 "stray \x80\xFF overlong \xC0\xAF surrogate \xED\xA0\x80"};
    for (const std::string& name : names) {
        tinygltf::Node n;
        n.name = name;
        model.nodes.push_back(n);
    }
    std::ostringstream out;
    std::string error;
    ASSERT_TRUE(tr4export::WriteGltf(model, out, false, error)) << error;
    tinygltf::Model back;
    ASSERT_TRUE(Read(out.str(), false, back));
    ASSERT_EQ(back.nodes.size(), 5u);
    EXPECT_EQ(back.nodes[0].name, names[0]);
    EXPECT_EQ(back.nodes[1].name, names[1]);
    EXPECT_EQ(back.nodes[2].name, names[2]);
    const std::string replaced = "\xEF\xBF\xBD";
    EXPECT_EQ(back.nodes[3].name, "cut " + replaced);
    EXPECT_EQ(back.nodes[4].name, "stray " + replaced + replaced + " overlong " + replaced +
                                      replaced + " surrogate " + replaced + replaced + replaced);
}
