// tr4tool-render: the "render" command of tr4tool in a process of its own (tr4tool execs it with
// the same arguments), so that the level commands never load the graphics stack.
#include "Commands.h"

int main(int argc, char** argv) {
    const tr4tool::Args args(argv + 1, argv + argc);
    return tr4tool::Render(args);
}
