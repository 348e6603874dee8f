#include "setup/setup_log.h"

#include <cstdio>
#include <filesystem>

#include "platform/com/variant.h"
#include "platform/files/private_files.h"

namespace tivel::setup {

void writeSetupLog(const std::string& storePath, const std::string& text) noexcept {
  try {
    namespace fs = std::filesystem;
    const com::DateTime now = com::DateTime::now();
    char name[32];
    std::snprintf(name, sizeof name, "logSetup%04d%02d%02d.txt", now.year, now.month, now.day);
    const fs::path dir = (fs::path(storePath).parent_path() / ".." / "log").lexically_normal();
    files::appendToLog(dir.string(), name, text + "   " + now.text() + "\r\n");
  } catch (...) {
    // A log that cannot be written never changes the task's answer.
  }
}

}  // namespace tivel::setup
