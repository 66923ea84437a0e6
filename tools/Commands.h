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

// The whole usage, every command's lines.
std::string Usage();
// "usage:" and that command's lines alone; empty for a name that is no command.
std::string CommandUsage(const std::string& command);

// Prints why and a hint (the whole usage when why is empty) to stderr and returns 2.
int UsageError(const std::string& why);

// Reading the command line (tools/Arguments.cpp).
// A whole decimal number of digits only (no sign, no space) that is at most limit.
bool ParseCount(const std::string& text, unsigned long long limit, unsigned long long& out);
// An argument that is not one of the command's options: when it does not start with '-' ("-"
// alone counts as a name) it is appended to operands and the result is empty; otherwise the
// result says that the option is unknown.
std::string TakeOperand(const std::string& argument, std::vector<std::string>& operands);
// The level's warnings on stderr, one line each, naming the file.
void PrintWarnings(const std::string& path, const std::vector<std::string>& warnings);

}  // namespace tr4tool
