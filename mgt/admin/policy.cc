#include "mgt/admin/policy.h"

#include <arpa/inet.h>

#include <array>
#include <cctype>
#include <charconv>
#include <cstring>
#include <string>
#include <vector>

#include "platform/com/text.h"

namespace tivel::mgt::policy {
namespace {

std::string_view trim(std::string_view s) { return com::trimWhitespace(s); }

// The non-empty items of s between any of the separators.
std::vector<std::string_view> split(std::string_view s, std::string_view separators) {
  std::vector<std::string_view> items;
  size_t start = 0;
  for (size_t i = 0; i <= s.size(); ++i) {
    if (i == s.size() || separators.find(s[i]) != std::string_view::npos) {
      std::string_view item = trim(s.substr(start, i - start));
      if (!item.empty()) items.push_back(item);
      start = i + 1;
    }
  }
  return items;
}

bool readInt(std::string_view s, int* out) {
  if (s.empty()) return false;
  auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), *out);
  return ec == std::errc() && end == s.data() + s.size();
}

// ---- Addresses: 4 or 16 bytes.
struct Address {
  std::array<unsigned char, 16> bytes{};
  int size = 0;  // 4 or 16
};

bool readAddress(std::string_view text, Address* out) {
  std::string s(text);
  if (inet_pton(AF_INET, s.c_str(), out->bytes.data()) == 1) {
    out->size = 4;
    return true;
  }
  if (inet_pton(AF_INET6, s.c_str(), out->bytes.data()) != 1) return false;
  out->size = 16;
  // ::ffff:a.b.c.d is the IPv4 address a.b.c.d.
  static const unsigned char kMapped[12] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xff, 0xff};
  if (std::memcmp(out->bytes.data(), kMapped, 12) == 0) {
    std::memmove(out->bytes.data(), out->bytes.data() + 12, 4);
    out->size = 4;
  }
  return true;
}

bool samePrefix(const Address& a, const Address& b, int bits) {
  for (int i = 0; bits > 0; ++i, bits -= 8) {
    unsigned mask = bits >= 8 ? 0xffu : (0xffu << (8 - bits)) & 0xffu;
    if ((a.bytes[i] & mask) != (b.bytes[i] & mask)) return false;
  }
  return true;
}

// ---- Days and times.

// Days since 1970-01-01 of a civil date.
long long daysFromCivil(int y, int m, int d) {
  y -= m <= 2;
  const long long era = (y >= 0 ? y : y - 399) / 400;
  const unsigned yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = static_cast<unsigned>((153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1);
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<long long>(doe) - 719468;
}

long long secondsOf(const com::DateTime& t) {
  return daysFromCivil(t.year, t.month, t.day) * 86400 + t.hour * 3600 + t.minute * 60 + t.second;
}

// 0 = Monday ... 6 = Sunday (1970-01-01 was a Thursday).
int weekday(const com::DateTime& t) {
  long long d = daysFromCivil(t.year, t.month, t.day);
  return static_cast<int>(((d + 3) % 7 + 7) % 7);
}

int dayNumber(std::string_view name) {
  static const char* const kDays[] = {"mon", "tue", "wed", "thu", "fri", "sat", "sun"};
  if (name.size() != 3) return -1;
  for (int i = 0; i < 7; ++i) {
    bool same = true;
    for (int k = 0; k < 3; ++k) same = same && std::tolower(static_cast<unsigned char>(name[k])) == kDays[i][k];
    if (same) return i;
  }
  return -1;
}

// "Mon-Fri,Sun" into a set of days.
bool readDays(std::string_view text, std::array<bool, 7>* days) {
  for (std::string_view item : split(text, ",")) {
    size_t dash = item.find('-');
    int from = dayNumber(trim(item.substr(0, dash)));
    int to = dash == std::string_view::npos ? from : dayNumber(trim(item.substr(dash + 1)));
    if (from < 0 || to < 0) return false;
    for (int d = from;; d = (d + 1) % 7) {
      (*days)[d] = true;
      if (d == to) break;
    }
  }
  return true;
}

// "HH:MM" as minutes of the day; "24:00" is 1440.
bool readClock(std::string_view text, int* minutes) {
  text = trim(text);
  size_t colon = text.find(':');
  int h = 0, m = 0;
  if (colon == std::string_view::npos || colon == 0 || colon > 2 || text.size() - colon - 1 != 2) return false;
  if (!readInt(text.substr(0, colon), &h) || !readInt(text.substr(colon + 1), &m)) return false;
  if (h < 0 || m < 0 || m > 59 || h > 24 || (h == 24 && m != 0)) return false;
  *minutes = h * 60 + m;
  return true;
}

struct Window {
  std::array<bool, 7> days{};
  int start = 0, end = 0;
};

bool readWindow(std::string_view text, Window* w) {
  // The time range is the last blank-separated word; what stands before it names the days.
  size_t blank = text.find_last_of(" \t");
  std::string_view range = blank == std::string_view::npos ? text : text.substr(blank + 1);
  if (blank == std::string_view::npos)
    w->days.fill(true);
  else if (!readDays(trim(text.substr(0, blank)), &w->days))
    return false;
  size_t dash = range.find('-');
  if (dash == std::string_view::npos) return false;
  if (!readClock(range.substr(0, dash), &w->start) || !readClock(range.substr(dash + 1), &w->end)) return false;
  return w->start != w->end && w->start < 1440;
}

bool inWindow(const Window& w, int day, int minute) {
  if (w.start < w.end) return w.days[day] && minute >= w.start && minute < w.end;
  // Past midnight: the evening of a named day or the early hours after one.
  return (w.days[day] && minute >= w.start) || (w.days[(day + 6) % 7] && minute < w.end);
}

}  // namespace

Verdict addressAllowed(std::string_view list, std::string_view address) {
  std::vector<std::string_view> items = split(list, ",; \t");
  if (items.empty()) return Verdict::Pass;
  Address caller;
  bool known = readAddress(trim(address), &caller);
  bool allowed = false;
  for (std::string_view item : items) {
    size_t slash = item.find('/');
    Address net;
    if (!readAddress(item.substr(0, slash), &net)) return Verdict::Unreadable;
    int bits = net.size * 8;
    if (slash != std::string_view::npos && (!readInt(item.substr(slash + 1), &bits) || bits < 0 || bits > net.size * 8))
      return Verdict::Unreadable;
    if (known && caller.size == net.size && samePrefix(caller, net, bits)) allowed = true;
  }
  return allowed ? Verdict::Pass : Verdict::Refuse;
}

Verdict timeAllowed(std::string_view windows, const com::DateTime& now) {
  std::vector<std::string_view> items = split(windows, ";");
  if (items.empty()) return Verdict::Pass;
  const int day = weekday(now), minute = now.hour * 60 + now.minute;
  bool allowed = false;
  for (std::string_view item : items) {
    Window w;
    if (!readWindow(item, &w)) return Verdict::Unreadable;
    allowed = allowed || inWindow(w, day, minute);
  }
  return allowed ? Verdict::Pass : Verdict::Refuse;
}

Verdict beforeLimit(std::string_view limit, const com::DateTime& now) {
  limit = trim(limit);
  if (limit.empty()) return Verdict::Pass;
  com::DateTime last;
  if (!com::DateTime::parse(limit, &last)) return Verdict::Unreadable;
  // A date alone allows the whole of that day.
  if (limit.size() <= 10) last.hour = 23, last.minute = 59, last.second = 59;
  return now <= last ? Verdict::Pass : Verdict::Refuse;
}

Verdict noChangeDemanded(std::string_view flag) {
  flag = trim(flag);
  if (flag.empty() || flag == "0") return Verdict::Pass;
  return flag == "1" ? Verdict::Refuse : Verdict::Unreadable;
}

bool readCount(std::string_view text, long* out) {
  text = trim(text);
  *out = 0;
  if (text.empty()) return true;
  auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), *out);
  return ec == std::errc() && end == text.data() + text.size() && *out >= 0;
}

Verdict belowLockThreshold(std::string_view count, std::string_view threshold) {
  long n = 0, limit = 0;
  if (!readCount(count, &n) || !readCount(threshold, &limit)) return Verdict::Unreadable;
  return limit > 0 && n >= limit ? Verdict::Refuse : Verdict::Pass;
}

bool lockOver(std::string_view lockedAt, int minutes, const com::DateTime& now) {
  com::DateTime at;
  if (minutes <= 0 || !com::DateTime::parse(trim(lockedAt), &at)) return false;
  return secondsOf(now) >= secondsOf(at) + 60LL * minutes;
}

}  // namespace tivel::mgt::policy
