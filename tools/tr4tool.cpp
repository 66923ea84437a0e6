// tr4tool: the command-line companion of the viewer.
#include <limits.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <new>
#include <string>
#include <vector>

#include "Commands.h"
#include "MemoryBudget.h"

namespace tr4tool {

#ifdef TR4TOOL_HAS_RENDER
// The renderer lives in its own executable, so that info and meshes run without mapping Qt and
// the OpenGL stack (about 10 MiB of resident memory before any work). It is no command of its
// own, so it is kept off PATH, with the package's private programs: TR4TOOL_RENDER_DIR is the way
// there from this program's folder, the same in the build tree as in an installed prefix.
int Render(const Args& args) {
    char self[PATH_MAX];
    const ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
    std::string helper = "tr4tool-render";
    if (n > 0) {
        // The link is already free of symbolic links, so ".." can be taken away by the letter.
        const std::filesystem::path folder =
            std::filesystem::path(std::string(self, static_cast<size_t>(n))).parent_path();
        helper = (folder / TR4TOOL_RENDER_DIR / helper).lexically_normal().string();
    }
    std::vector<std::string> copies(args);
    std::vector<char*> argv{helper.data()};
    for (std::string& a : copies) argv.push_back(a.data());
    argv.push_back(nullptr);
    // The helper writes to the same standard output: what was printed so far must get there.
    if (FinishStandardOutput(0) != 0) return 3;
    execv(helper.c_str(), argv.data());
    std::fprintf(stderr, "tr4tool: cannot run %s: %s\n", helper.c_str(), std::strerror(errno));
    return 3;
}
#else
int Render(const Args&) {
    return UsageError("this build has no renderer");
}
#endif

}  // namespace tr4tool

namespace {

int Run(int argc, char** argv) {
    using namespace tr4tool;
    if (argc >= 2 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0 ||
                      std::strcmp(argv[1], "help") == 0)) {
        std::fputs(Usage().c_str(), stdout);
        return 0;
    }
    if (argc == 2 && std::strcmp(argv[1], "--version") == 0) {
        std::puts("tr4tool " TR4_VERSION);
        return 0;
    }
    if (argc < 2) return UsageError("");
    const std::string command = argv[1];
    const Args args(argv + 2, argv + argc);
    for (const std::string& a : args) {
        if (a == "--help" || a == "-h") {
            // A command's own lines are all its user asked about; a name that is no command
            // gets the whole list to choose from.
            const std::string own = CommandUsage(command);
            std::fputs((own.empty() ? Usage() : own).c_str(), stdout);
            return 0;
        }
    }
    if (command == "info") return Info(args);
    if (command == "meshes") return Meshes(args);
    if (command == "render") return Render(args);
    if (command == "export") return Export(args);
    if (command == "pages") return Pages(args);
    return UsageError("unknown command '" + command + "'");
}

// The file a command names, for a message that has nothing better to go on.
std::string FileOf(int argc, char** argv) {
    for (int i = 2; i < argc; ++i)
        if (argv[i][0] != '-' || std::strcmp(argv[i], "-") == 0) return argv[i];
    return "";
}

}  // namespace

int main(int argc, char** argv) {
    // The load reports running out of memory itself; this catches it anywhere else, so it is
    // an error with the file's name, never an abort.
    tr4tool::KeepStandardDescriptors();
    // The promise is about the whole process: what it holds before any level counts too.
    tr4::MemoryBudget::CountTheProcess(true);
    int status = 1;
    try {
        status = Run(argc, argv);
    } catch (const std::bad_alloc&) {
        std::fflush(stdout);
        std::fprintf(stderr, "tr4tool: %s: out of memory\n", FileOf(argc, argv).c_str());
        return 1;
    }
    // What a command printed is only done once it reached its reader.
    return tr4tool::FinishStandardOutput(status);
}
