#include "platform/profile/daily_log.h"

#include <sys/stat.h>

#include <chrono>
#include <cstdio>
#include <filesystem>

#include "platform/com/error.h"
#include "platform/files/private_files.h"
#include "platform/profile/profile.h"

namespace tivel::profile {

namespace fs = std::filesystem;

namespace {

// Days since 1970-01-01 of a calendar date.
long dayNumber(int year, int month, int day) {
  using namespace std::chrono;
  return sys_days(std::chrono::year{year} / std::chrono::month{static_cast<unsigned>(month)} /
                  std::chrono::day{static_cast<unsigned>(day)})
      .time_since_epoch()
      .count();
}

}  // namespace

void appendDailyLog(const std::string& logDir, const std::string& prefix, const com::DateTime& now,
                    const std::string& line, const char* source, bool prune) {
  char stamp[16];
  std::snprintf(stamp, sizeof stamp, "%04d%02d%02d", now.year, now.month, now.day);
  const fs::path dir = fs::path(logDir).lexically_normal();
  const std::string name = prefix + stamp + ".txt", file = (dir / name).string();
  // The day's first line starts a new file: then the days past keeping go.
  struct stat st {};
  const bool newDay = ::lstat(file.c_str(), &st) != 0;
  switch (files::appendToLog(dir.string(), name, line)) {
    case files::Append::NotOpened: com::raise(com::kFileNotFound, source, "File not found: " + file);
    case files::Append::NotWritten: com::raise(com::kDeviceIo, source, "Device I/O error: " + file);
    case files::Append::Done: break;
  }
  if (newDay && prune) pruneDailyLogs(dir.string(), prefix, now, dailyLogKeepDays(dir.string()));
}

int dailyLogKeepDays(const std::string& logDir) {
  const std::string ini = (fs::path(logDir) / ".." / "ini" / "SysTivel.ini").lexically_normal().string();
  const std::string value = readProfileString(ini, "Log", "keep_days");
  int days = 0;
  for (char c : value) {
    if (c < '0' || c > '9' || days > 100000) return 0;  // not a whole number of days: keep everything
    days = days * 10 + (c - '0');
  }
  return days;
}

int pruneDailyLogs(const std::string& logDir, const std::string& prefix, const com::DateTime& now, int keepDays) {
  if (keepDays <= 0) return 0;
  const long oldestKept = dayNumber(now.year, now.month, now.day) - (keepDays - 1);
  int removed = 0;
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator(logDir, ec)) {
    const std::string name = entry.path().filename().string();
    // Exactly <prefix>YYYYMMDD.txt: "log" does not take "logScrivane..." files.
    if (name.size() != prefix.size() + 12 || name.compare(0, prefix.size(), prefix) != 0 ||
        name.compare(name.size() - 4, 4, ".txt") != 0)
      continue;
    const std::string digits = name.substr(prefix.size(), 8);
    if (digits.find_first_not_of("0123456789") != std::string::npos) continue;
    const int y = std::stoi(digits.substr(0, 4)), m = std::stoi(digits.substr(4, 2)),
              d = std::stoi(digits.substr(6, 2));
    if (m < 1 || m > 12 || d < 1 || d > 31) continue;
    if (dayNumber(y, m, d) < oldestKept && entry.is_regular_file(ec) && fs::remove(entry.path(), ec)) ++removed;
  }
  return removed;
}

}  // namespace tivel::profile
