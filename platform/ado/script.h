// Schema scripts: the statements of a script file that the set-up code runs
// one at a time, since a connection runs one statement text per call.
#pragma once

#include <string>
#include <vector>

namespace tivel::ado {

// The statements of a script: "--" comments and blank lines removed, each
// statement ending at a line that ends in ";" (the ";" dropped); a last
// statement without ";" counts too.
std::vector<std::string> scriptStatements(const std::string& text);

}  // namespace tivel::ado
