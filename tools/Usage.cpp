// The usage text, shared by tr4tool and the renderer it hands "render" to.
#include <cstdio>
#include <string>

#include "Commands.h"

namespace tr4tool {

const char kUsage[] =
    "usage: tr4tool COMMAND FILE [options]\n"
    "\n"
    "  info FILE [--json]     the header, the chunk sizes, every count of the level data, the\n"
    "                         texture page, mesh and textured face counts, whether the level\n"
    "                         data was parsed to its last field, and the warnings\n"
    "  meshes FILE [--json]   one line (or JSON object) per decoded mesh in list order: index,\n"
    "                         offset, centre, vertexCount, normalCount, rectangleCount,\n"
    "                         triangleCount\n"
#ifdef TR4TOOL_HAS_RENDER
    "  render FILE INDEX -o OUT.png [--size WxH] [--yaw RAD] [--pitch RAD] [--zoom Z]\n"
    "         [--pan X,Y]     draws mesh INDEX as the viewer would into a PNG (needs a display)\n"
    "  render FILE --all DIR [same options]\n"
    "                         one PNG per mesh, named by index\n"
#endif
    "  --version              the program's version\n"
    "\n"
    "Exit status: 0 when the level was read (warnings go to standard error), 1 when FILE is not\n"
    "a readable level, 2 for a usage error"
#ifdef TR4TOOL_HAS_RENDER
    ", 3 when render read the level but could not draw or\n"
    "write the picture (no display, say)"
#endif
    ".\n";

int UsageError(const std::string& why) {
    if (!why.empty()) std::fprintf(stderr, "tr4tool: %s\n", why.c_str());
    std::fputs(kUsage, stderr);
    return 2;
}

}  // namespace tr4tool
