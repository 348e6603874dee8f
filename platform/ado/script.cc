#include "platform/ado/script.h"

#include <sstream>

namespace tivel::ado {

std::vector<std::string> scriptStatements(const std::string& text) {
  std::vector<std::string> out;
  std::istringstream in(text);
  std::string line, current;
  while (std::getline(in, line)) {
    auto dash = line.find("--");
    if (dash != std::string::npos) line.erase(dash);
    while (!line.empty() && (line.back() == ' ' || line.back() == '\r' || line.back() == '\t')) line.pop_back();
    if (line.empty()) continue;
    current += line + "\n";
    if (line.back() == ';') {
      current.erase(current.find_last_of(';'));
      out.push_back(current);
      current.clear();
    }
  }
  if (current.find_first_not_of(" \n\t") != std::string::npos) out.push_back(current);
  return out;
}

}  // namespace tivel::ado
