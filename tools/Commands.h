#pragma once
// The subcommands of tr4tool. Each takes the arguments after its name and returns the exit status:
// 0 when a level was read, 1 when the file is not a readable level, 2 for a usage error, 3 when
// the level was read but the output could not be made or written.
#include <functional>
#include <string>
#include <vector>

namespace tr4 {
class dxDevice8;
}

namespace tr4tool {

using Args = std::vector<std::string>;

int Info(const Args& args);
int Meshes(const Args& args);
int Render(const Args& args);  // only where the renderer is built: runs tr4tool-render
int Export(const Args& args);
int Pages(const Args& args);

// The render command in this process (tr4tool-render). prepare, when given, is called with the
// render device once it is made, before the level is put on it: the program gives none; its tests
// make the device refuse uploads there.
int RenderInProcess(const Args& args, const std::function<void(tr4::dxDevice8&)>& prepare = {});

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

// Standard streams (tools/Arguments.cpp). Run first: a standard descriptor the caller left closed
// is opened on /dev/null (standard output on /dev/full), so that no file the command opens later
// takes its number and receives its messages; standard output is remembered as closed.
void KeepStandardDescriptors();
// Run last with the command's status: when what was written to standard output did not all get
// there (a full disk, a closed descriptor), says why and returns 3; otherwise status.
int FinishStandardOutput(int status);

}  // namespace tr4tool
