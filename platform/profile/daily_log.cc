#include "platform/profile/daily_log.h"

#include <cstdio>
#include <filesystem>

#include "platform/com/error.h"
#include "platform/files/private_files.h"

namespace tivel::profile {

void appendDailyLog(const std::string& logDir, const std::string& prefix, const com::DateTime& now,
                    const std::string& line, const char* source) {
  namespace fs = std::filesystem;
  char stamp[16];
  std::snprintf(stamp, sizeof stamp, "%04d%02d%02d", now.year, now.month, now.day);
  const fs::path dir = fs::path(logDir).lexically_normal();
  const std::string name = prefix + stamp + ".txt", file = (dir / name).string();
  switch (files::appendToLog(dir.string(), name, line)) {
    case files::Append::NotOpened: com::raise(com::kFileNotFound, source, "File not found: " + file);
    case files::Append::NotWritten: com::raise(com::kDeviceIo, source, "Device I/O error: " + file);
    case files::Append::Done: break;
  }
}

}  // namespace tivel::profile
