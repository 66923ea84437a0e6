// How tr4tool's commands read their arguments and report a level's warnings.
#include <cstdio>
#include <exception>

#include "Commands.h"

namespace tr4tool {

bool ParseCount(const std::string& text, unsigned long long limit, unsigned long long& out) {
    if (text.empty() || text.find_first_not_of("0123456789") != std::string::npos) return false;
    try {
        out = std::stoull(text);
        return out <= limit;
    } catch (const std::exception&) {
        return false;  // more digits than any limit
    }
}

std::string TakeOperand(const std::string& argument, std::vector<std::string>& operands) {
    if (!argument.empty() && argument[0] == '-' && argument != "-")
        return "unknown option '" + argument + "'";
    operands.push_back(argument);
    return "";
}

void PrintWarnings(const std::string& path, const std::vector<std::string>& warnings) {
    for (const std::string& w : warnings)
        std::fprintf(stderr, "tr4tool: %s: warning: %s\n", path.c_str(), w.c_str());
}

}  // namespace tr4tool
