// Writes the bundled sample level: make_demo_level samples/demo.tr4
#include <cstdio>

#include "LevelWriter.h"

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: make_demo_level OUT.tr4\n");
        return 2;
    }
    if (!tr4test::WriteFile(argv[1], tr4test::BuildLevelFile(tr4test::DemoLevel()))) {
        std::perror(argv[1]);
        return 1;
    }
    return 0;
}
