#pragma once
// The subcommands of tr4tool. Each takes the arguments after its name and returns the exit status:
// 0 when a level was read, 1 when the file is not a readable level, 2 for a usage error, 3 when
// the level was read but the output could not be made or written.
#include <string>
#include <vector>

namespace tr4tool {

using Args = std::vector<std::string>;

int Info(const Args& args);
int Meshes(const Args& args);
int Render(const Args& args);  // only where the renderer is built
int Export(const Args& args);
int Pages(const Args& args);

extern const char kUsage[];

// Prints the usage to stderr and returns 2.
int UsageError(const std::string& why);

}  // namespace tr4tool
