// The usage text, shared by tr4tool and the renderer it hands "render" to. Each command's lines
// stand alone, so that "tr4tool COMMAND --help" can print just those.
#include <cstdio>
#include <string>

#include "Commands.h"

namespace tr4tool {
namespace {

struct CommandLines {
    const char* name;
    const char* lines;
};

const char kHead[] = "usage: tr4tool COMMAND FILE [options]\n";

// In the order the full usage lists them.
const CommandLines kCommands[] = {
    {"info",
     "  info FILE [--json]     the header, the chunk sizes, every count of the level data, the\n"
     "                         texture page, mesh and textured face counts, whether the level\n"
     "                         data was parsed to its last field, and the warnings\n"},
    {"meshes",
     "  meshes FILE [--json]   one line (or JSON object) per decoded mesh in list order: index,\n"
     "                         offset, centre, vertexCount, normalCount, rectangleCount,\n"
     "                         triangleCount and the objects that use the mesh (owners: the\n"
     "                         moveables with their part, the statics)\n"},
    {"export",
     "  export FILE INDEX... -o OUT.glb|OUT.gltf [--scale S]\n"
     "                         the given meshes as glTF 2.0, one node each (.gltf: JSON with the\n"
     "                         buffer and images as data URIs); S is metres per level unit,\n"
     "                         1/1024 by default\n"
     "  export FILE --all -o OUT [--scale S]\n"
     "                         every mesh: glTF meshes[i] is level mesh i\n"
     "  export FILE --moveable ID -o OUT [--animations] [--scale S]\n"
     "                         one moveable, its parts assembled by its mesh tree; with\n"
     "                         --animations, every animation that stores keyframes, and the\n"
     "                         player (0) with her skin and joints\n"
     "  export FILE --static ID -o OUT [--scale S]\n"
     "  export FILE --objects DIR [--format glb|gltf] [--animations] [--scale S]\n"
     "                         every moveable and static, one file each (moveable-ID.glb,\n"
     "                         static-ID.glb); --format gltf writes .gltf files that share\n"
     "                         their pages as DIR/pages/page-N.png\n"
     "  export FILE --level -o OUT [--no-items] [--no-lights] [--scale S]\n"
     "                         the whole level as one scene: rooms, placed statics, items\n"
     "                         posed in their first keyframe, lights\n"},
    {"pages",
     "  pages FILE DIR         every texture page as a 256 x 256 PNG with its alpha "
     "(page-N.png)\n"},
#ifdef TR4TOOL_HAS_RENDER
    {"render",
     "  render FILE INDEX -o OUT.png [--size WxH] [--yaw RAD] [--pitch RAD] [--zoom Z]\n"
     "         [--pan X,Y]     draws mesh INDEX as the viewer would into a PNG (needs a display);\n"
     "                         the zoom fits the mesh in the picture unless --zoom is given\n"
     "  render FILE --all DIR [same options]\n"
     "                         one PNG per mesh, named by its zero-padded index (000.png)\n"},
#endif
};

const char kTail[] =
    "  COMMAND --help         that command's usage alone\n"
    "  --version              the program's version\n"
    "\n"
    "Exit status: 0 when the level was read (warnings go to standard error), 1 when FILE is not\n"
    "a readable level (not a regular file, damaged, over its memory budget of 64 x its size +\n"
    "64 MiB, or out of memory), 2 for a usage error, 3 when the level was read but the output\n"
    "could not be made or written (a file that cannot be written; render: no display, say).\n";

}  // namespace

std::string Usage() {
    std::string text = std::string(kHead) + "\n";
    for (const CommandLines& c : kCommands) text += c.lines;
    return text + kTail;
}

std::string CommandUsage(const std::string& command) {
    for (const CommandLines& c : kCommands)
        if (command == c.name) return "usage: tr4tool " + command + " FILE [options]\n\n" + c.lines;
    return "";
}

int UsageError(const std::string& why) {
    // A mistake gets its one line and where to look; the whole text only when nothing was asked.
    if (why.empty())
        std::fputs(Usage().c_str(), stderr);
    else
        std::fprintf(stderr, "tr4tool: %s\nsee tr4tool --help\n", why.c_str());
    return 2;
}

}  // namespace tr4tool
