#include "tools/tivel/password.h"

#include <termios.h>
#include <unistd.h>

#include <iostream>

namespace tivel::tool {

std::string readPassword(const std::string& prompt, bool fromStdin) {
  std::string line;
  if (!fromStdin && isatty(STDIN_FILENO)) {
    std::cerr << prompt << std::flush;
    termios old{};
    tcgetattr(STDIN_FILENO, &old);
    termios quiet = old;
    quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
    tcsetattr(STDIN_FILENO, TCSANOW, &quiet);
    std::getline(std::cin, line);
    tcsetattr(STDIN_FILENO, TCSANOW, &old);
    std::cerr << "\n";
  } else {
    std::getline(std::cin, line);
  }
  if (!line.empty() && line.back() == '\r') line.pop_back();
  return line;
}

}  // namespace tivel::tool
