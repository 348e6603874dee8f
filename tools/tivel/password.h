// Reading a password for the tivel command without putting it on the command line.
#pragma once

#include <string>

namespace tivel::tool {

// From a terminal: prompts on stderr and reads a line with echo off.
// Otherwise, or with fromStdin: the first line of standard input.
std::string readPassword(const std::string& prompt, bool fromStdin);

}  // namespace tivel::tool
