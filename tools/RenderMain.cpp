// tr4tool-render: the "render" command of tr4tool in a process of its own (tr4tool execs it with
// the same arguments), so that the level commands never load the graphics stack.
#include <cstdio>
#include <new>

#include "Commands.h"
#include "MemoryBudget.h"

int main(int argc, char** argv) {
    tr4tool::KeepStandardDescriptors();
    // The promise is about the whole process: what it holds before any level counts too.
    tr4::MemoryBudget::CountTheProcess(true);
    const tr4tool::Args args(argv + 1, argv + argc);
    try {
        return tr4tool::FinishStandardOutput(tr4tool::RenderInProcess(args));
    } catch (const std::bad_alloc&) {
        // Running out of memory is an error like any other, never an abort.
        std::fflush(stdout);
        const char* file = "";
        for (int i = 1; i < argc; ++i)
            if (argv[i][0] != '-') {
                file = argv[i];
                break;
            }
        std::fprintf(stderr, "tr4tool: %s: out of memory\n", file);
        return 1;
    }
}
