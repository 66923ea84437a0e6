// Work that runs on a helper thread when one can be had, run where none can: the page images of an
// export and the pictures of render --all are made on the calling thread instead, the same bytes,
// and nothing ends the process. The limit on threads is set in a child process of its own: as
// root (which the limit does not bind) the child first becomes the unprivileged user nobody.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QImage>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <system_error>
#include <thread>

#include "GltfExport.h"
#include "LevelWriter.h"
#include "LoadLevel.h"
#include "PagePng.h"
#include "PngFiles.h"

namespace {

constexpr int kSkip = 77;

// In a child process that can start no thread; the child's exit status, kSkip where the limit
// cannot be had.
int WithoutThreads(void (*body)()) {
    const pid_t pid = fork();
    if (pid == 0) {
        if (getuid() == 0 && setuid(65534) != 0) _exit(kSkip);
        const rlimit one{1, 1};
        if (setrlimit(RLIMIT_NPROC, &one) != 0) _exit(kSkip);
        try {
            std::thread([] {}).join();
            _exit(kSkip);  // threads are still to be had here
        } catch (const std::system_error&) {
        }
        body();
        _exit(testing::Test::HasFailure() ? 1 : 0);
    }
    int raw = 0;
    waitpid(pid, &raw, 0);
    return WIFEXITED(raw) ? WEXITSTATUS(raw) : 128 + WTERMSIG(raw);
}

TEST(NoThread, PageImagesAreMadeOnTheCallingThread) {
    const int status = WithoutThreads([] {
        tr4::LoadedLevel loaded;
        const tr4test::Bytes file = tr4test::BuildLevelFile(tr4test::DemoLevel());
        ASSERT_TRUE(tr4::LoadLevelImage(file.data(), file.size(), loaded));
        std::vector<uint8_t> expected;
        ASSERT_TRUE(tr4export::EncodePagePng(*loaded.level, 0, expected));
        tr4export::PagePngCache pages(*loaded.level);
        pages.Prefetch(0);
        EXPECT_EQ(pages.Png(0), expected);
    });
    if (status == kSkip) GTEST_SKIP() << "no limit on threads can be set here";
    EXPECT_EQ(status, 0);
}

TEST(NoThread, PicturesAreWrittenOnTheCallingThread) {
    const int status = WithoutThreads([] {
        char folder[] = "/tmp/tr4-nothread-XXXXXX";
        ASSERT_NE(mkdtemp(folder), nullptr);
        const std::string path = std::string(folder) + "/000.png";
        QImage frame(16, 8, QImage::Format_RGB32);
        frame.fill(qRgb(200, 30, 10));
        {
            tr4tool::PngWriterThread writer;
            writer.Put(frame, path);
            EXPECT_EQ(writer.Finish(), "");
        }
        const QImage back(QString::fromStdString(path));
        EXPECT_EQ(back.size(), frame.size());
        EXPECT_EQ(back.pixel(3, 3), frame.pixel(3, 3));
        std::remove(path.c_str());
        rmdir(folder);
    });
    if (status == kSkip) GTEST_SKIP() << "no limit on threads can be set here";
    EXPECT_EQ(status, 0);
}

// An export's load reads the 16-bit pages aside and its file is made durable aside, where threads
// can be had: without, the same level and the same file come of the calling thread.
TEST(NoThread, TheExportsLoadAndSyncRunOnTheCallingThread) {
    const int status = WithoutThreads([] {
        struct Watcher : tr4::PagesWatcher {
            void Ready(const tr4::Level&) override {}
            void Gone() override {}
        } watcher;
        const std::string stem = testing::TempDir() + "/" + std::to_string(getpid());
        ASSERT_TRUE(
            tr4test::WriteFile(stem + ".tr4", tr4test::BuildLevelFile(tr4test::DemoLevel())));
        tr4::LoadedLevel inTurn, aside;
        ASSERT_TRUE(tr4::LoadLevel(stem + ".tr4", inTurn));
        ASSERT_TRUE(tr4::LoadLevel(stem + ".tr4", aside, tr4::kPages32Block, &watcher));
        EXPECT_EQ(aside.level->pages16Size, inTurn.level->pages16Size);
        EXPECT_EQ(aside.warnings, inTurn.warnings);
        tr4export::ExportRequest request;
        tinygltf::Model model;
        std::vector<std::string> warnings;
        std::string error;
        ASSERT_TRUE(tr4export::BuildModel(*aside.level, aside.meshes.get(), request, model,
                                          warnings, error));
        ASSERT_TRUE(tr4export::WriteModel(model, stem + "-kept.glb", true, error)) << error;
        bool letGo = false;
        ASSERT_TRUE(tr4export::WriteModel(model, stem + "-let-go.glb", true, error, std::nullopt,
                                          nullptr, nullptr, [&] { letGo = true; }))
            << error;
        EXPECT_TRUE(letGo);
        EXPECT_EQ(tr4test::ReadFile(stem + "-let-go.glb"), tr4test::ReadFile(stem + "-kept.glb"));
        for (const char* end : {".tr4", "-kept.glb", "-let-go.glb"})
            std::remove((stem + end).c_str());
    });
    if (status == kSkip) GTEST_SKIP() << "no limit on threads can be set here";
    EXPECT_EQ(status, 0);
}

}  // namespace
