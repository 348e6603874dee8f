#include "mgt/common/helpers.h"

#include <unistd.h>

#include <bitset>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <map>
#include <mutex>
#include <random>
#include <thread>

#include "mgt/common/module.h"
#include "mgt/common/trace.h"
#include "platform/ado/data_files.h"
#include "platform/ado/recordset.h"
#include "platform/com/error.h"
#include "platform/com/text.h"
#include "platform/files/private_files.h"
#include "platform/profile/daily_log.h"
#include "platform/profile/profile.h"

namespace tivel::mgt {

namespace {

std::string twoDigits(int n) {
  char buf[8];
  std::snprintf(buf, sizeof buf, "%02d", n % 100);
  return buf;
}

// Random parts already issued in this process, per prefix, for the current
// second. Keys are unique only as far as the second and the random part make
// them, so the generator never hands out the same one twice itself.
class KeySpace {
 public:
  // Draws a random part for prefix in the given second, or -1 when all 999 are taken.
  int draw(const std::string& prefix, const std::string& second, std::mt19937& gen) {
    std::lock_guard lock(mu_);
    if (second != second_) {
      second_ = second;
      used_.clear();
    }
    auto& used = used_[prefix];
    if (used.all()) return -1;
    // The random part: integer part of r * 999 + 100, r single precision in [0, 1).
    std::uniform_real_distribution<float> dist(0.0f, 1.0f);
    for (int tries = 0; tries < 64; ++tries) {
      float r = dist(gen);
      int slot = static_cast<int>(r * 999.0f);
      if (slot > 998) slot = 998;
      if (!used.test(static_cast<size_t>(slot))) {
        used.set(static_cast<size_t>(slot));
        return slot + 100;
      }
    }
    for (size_t slot = 0; slot < used.size(); ++slot)
      if (!used.test(slot)) {
        used.set(slot);
        return static_cast<int>(slot) + 100;
      }
    return -1;
  }

 private:
  std::mutex mu_;
  std::string second_;
  std::map<std::string, std::bitset<999>> used_;
};

KeySpace& keySpace() {
  static KeySpace k;
  return k;
}

// Seeded per process and thread, so processes started in the same second do
// not repeat each other's keys; a forked child reseeds on its first draw.
std::mt19937& generator() {
  thread_local std::mt19937 gen;
  thread_local pid_t seededFor = 0;
  if (seededFor != getpid()) {
    seededFor = getpid();
    std::random_device rd;
    std::seed_seq seq{rd(), rd(), static_cast<unsigned>(seededFor),
                      static_cast<unsigned>(std::hash<std::thread::id>{}(std::this_thread::get_id())),
                      static_cast<unsigned>(std::chrono::steady_clock::now().time_since_epoch().count())};
    gen.seed(seq);
  }
  return gen;
}

}  // namespace

std::string GetConnectionString() {
  const std::string& ini = configPath();
  auto v = [&](const char* section, const char* key) { return ReadIniString(ini, section, key); };
  switch (ado::iniMode(ini)) {
    case 1: return ado::dsnConnectionString(ini);
    case 2:
      return "DRIVER=" + v("DBCONN_sql_drive", "DRIVER") + "; server=" + v("DBCONN_sql_drive", "SERVER") +
             ";uid=" + v("DBCONN_sql_drive", "uid") + ";PASSWORD=" + v("DBCONN_sql_drive", "pwd") +
             ";DATABASE=" + v("DBCONN_sql_drive", "Database");
    case 3:
      return "PROVIDER=" + v("DBCONN_mdb_drive", "PROVIDER") + "; Data Source=" + componentDir() + "/../db/" +
             v("DBCONN_mdb_drive", "Database") + ";";
    default: return "";
  }
}

bool OpenDatabase(std::string* why) {
  auto failed = [why](std::string text) {
    if (why) *why = std::move(text);
    return false;
  };
  try {
    auto conn = std::make_shared<ado::Connection>();
    setSharedConnection(conn);
    std::string cs = GetConnectionString();
    conn->cursorLocation = ado::adUseClient;
    conn->commandTimeout = 10;
    conn->connectionString = cs;
    conn->open(cs, "", "", -1);
    return true;
  } catch (const com::ComError& e) {
    traceTrapped("False", __func__);
    return failed(e.source() + ": " + e.description());
  } catch (const std::exception& e) {
    traceTrapped("False", __func__);
    return failed(e.what());
  } catch (...) {
    traceTrapped("False", __func__);
    return failed("unknown failure");
  }
}

std::string ReadIniString(const std::string& path, const std::string& section, const std::string& key) {
  return profile::readIniValue(path, section, key);
}

std::string TrimAtNull(std::string_view s) { return profile::textBeforeNul(s); }

std::string QuoteSql(std::string_view s) { return com::doubleSingleQuotes(s); }

std::string NewNumber(std::string_view prefix) {
  std::string p = prefix.empty() ? std::string("SYS") : std::string(prefix);
  for (;;) {
    com::DateTime now = com::DateTime::now();
    std::string stamp = twoDigits(now.year) + twoDigits(now.month) + twoDigits(now.day) + twoDigits(now.hour) +
                        twoDigits(now.minute) + twoDigits(now.second);
    int r = keySpace().draw(p, stamp, generator());
    if (r >= 0) return p + "_" + stamp + "_" + std::to_string(r);
    // Every random part of this second is taken: wait for the next second.
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
}

bool RowExists(const std::string& table, const std::string& column, const std::string& value) {
  auto rs = sharedConnection()->execute("Select Count(*) from " + table + " where " + column + "='" + value + "' ");
  bool one = !rs->eof() && rs->value(0).looseEquals(com::Variant(int32_t{1}));
  rs->close();
  return one;
}

void WriteFileLog(const std::string& message) {
  const com::DateTime now = com::DateTime::now();
  profile::appendDailyLog(componentDir() + "/../log", "log", now, message + "   SysTivel" + now.text() + "\r\n",
                          "TivelMgt");
}

}  // namespace tivel::mgt
