// Folders of files written as one batch: nothing replaces its target before the batch is
// committed, a batch given up leaves the folder as it was, and a full batch commits by itself.
#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <set>
#include <string>

#include "SafeFile.h"

namespace {

namespace fs = std::filesystem;

std::string Read(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

std::set<std::string> Names(const fs::path& dir) {
    std::set<std::string> names;
    for (const auto& e : fs::directory_iterator(dir)) names.insert(e.path().filename().string());
    return names;
}

struct Folder {
    fs::path dir = fs::path(::testing::TempDir()) / ("tr4-batch-" + std::to_string(getpid()));
    Folder() {
        fs::remove_all(dir);
        fs::create_directories(dir);
        for (const char* name : {"a.png", "b.png"}) std::ofstream(dir / name) << "old " << name;
    }
    ~Folder() { fs::remove_all(dir); }
    bool Write(tr4export::SafeFileBatch& batch, const std::string& name, const std::string& text,
               std::string& error) const {
        return batch.Write((dir / name).string(), text.data(), text.size(), error);
    }
};

TEST(SafeFileBatch, TargetsChangeOnlyWhenTheBatchIsCommitted) {
    Folder f;
    std::string error;
    {
        tr4export::SafeFileBatch batch;
        ASSERT_TRUE(f.Write(batch, "a.png", "new a", error)) << error;
        ASSERT_TRUE(f.Write(batch, "c.png", "new c", error)) << error;
        EXPECT_EQ(Read(f.dir / "a.png"), "old a.png");
        EXPECT_FALSE(fs::exists(f.dir / "c.png"));
        EXPECT_EQ(Names(f.dir).size(), 4u);  // the two old files and two temporary ones
        ASSERT_TRUE(batch.Commit(error)) << error;
    }
    EXPECT_EQ(Read(f.dir / "a.png"), "new a");
    EXPECT_EQ(Read(f.dir / "b.png"), "old b.png");
    EXPECT_EQ(Read(f.dir / "c.png"), "new c");
    EXPECT_EQ(Names(f.dir), (std::set<std::string>{"a.png", "b.png", "c.png"}));

    // Given up (a command that failed before its end): the folder is as it was.
    {
        tr4export::SafeFileBatch batch;
        ASSERT_TRUE(f.Write(batch, "b.png", "newer b", error)) << error;
        ASSERT_TRUE(f.Write(batch, "d.png", "new d", error)) << error;
    }
    EXPECT_EQ(Read(f.dir / "b.png"), "old b.png");
    EXPECT_EQ(Names(f.dir), (std::set<std::string>{"a.png", "b.png", "c.png"}));

    // The level being read is never a target, in a batch as alone.
    {
        tr4export::SafeFileBatch batch(tr4export::IdOf((f.dir / "a.png").string()));
        EXPECT_FALSE(f.Write(batch, "a.png", "over the level", error));
        EXPECT_NE(error.find("it is the level being read"), std::string::npos) << error;
    }
    EXPECT_EQ(Read(f.dir / "a.png"), "new a");
}

TEST(SafeFileBatch, AFullBatchIsCommittedAsItFills) {
    Folder f;
    std::string error;
    tr4export::SafeFileBatch batch;
    const size_t most = tr4export::SafeFileBatch::kMost;
    for (size_t i = 0; i < most + 1; ++i)
        ASSERT_TRUE(f.Write(batch, "p" + std::to_string(i) + ".png", std::to_string(i), error));
    // The first kMost are on their names; the last waits for the commit.
    EXPECT_EQ(Read(f.dir / ("p" + std::to_string(most - 1) + ".png")), std::to_string(most - 1));
    EXPECT_FALSE(fs::exists(f.dir / ("p" + std::to_string(most) + ".png")));
    ASSERT_TRUE(batch.Commit(error)) << error;
    EXPECT_EQ(Names(f.dir).size(), most + 1 + 2);
}

}  // namespace
