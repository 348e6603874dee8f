#include "mgt/common/new_number.h"

#include <unistd.h>

#include <atomic>
#include <bitset>
#include <chrono>
#include <cstdio>
#include <functional>
#include <mutex>
#include <random>
#include <thread>
#include <unordered_map>
#include <unordered_set>

namespace tivel::mgt {
namespace {

// The standard random parts: 100..1098, the form every stored key has.
constexpr int kNarrowFirst = 100, kNarrowCount = 999;
// The wider ones, drawn once a second's standard parts run short: they
// follow the standard range, so no wide key can equal a standard one.
constexpr uint32_t kWideFirst = 1099, kWideLast = 9999999;

std::atomic<KeyClock> testClock{nullptr};

com::DateTime now() {
  KeyClock clock = testClock.load(std::memory_order_relaxed);
  return clock ? clock() : com::DateTime::now();
}

std::string stampOf(const com::DateTime& t) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%02d%02d%02d%02d%02d%02d", t.year % 100, t.month % 100, t.day % 100, t.hour % 100,
                t.minute % 100, t.second % 100);
  return buf;
}

// The random parts this process knows to be used in the current second, per
// prefix: those it issued and those its keys met taken elsewhere. Keys are
// unique only as far as the second and the random part make them, so the
// process never hands out the same one twice itself; other processes and
// hosts are told apart by the database's key. A key that meets another's is
// drawn again from the standard parts, so stored keys keep their form while
// the second has room; the prefix's draws widen only once most of the
// second's standard parts are known taken, where a standard draw would
// mostly meet again.
class KeySpace {
 public:
  // The random part for prefix in the given second, or -1 when none is left.
  int draw(const std::string& prefix, const std::string& second, std::mt19937& gen) {
    std::lock_guard lock(mu_);
    Prefix& p = current(second)[prefix];
    if (!p.lastMet) p.metInARow = 0;  // the previous draw went in
    p.lastMet = false;
    if (!p.wide && p.metInARow < kMeetingsInARow) {
      if (int r = drawNarrow(p.narrow, gen); r >= 0) return r;
      p.wide = true;  // all 999 taken
    }
    // A draw that kept meeting takes one wide part, so an add never runs out
    // of draws; the prefix stays standard for the next key.
    p.metInARow = 0;
    return drawWide(p.wideUsed, gen);
  }

  // Notes that the key with this random part was found taken elsewhere.
  void taken(const std::string& prefix, const std::string& second, int part) {
    std::lock_guard lock(mu_);
    if (second != second_) return;
    Prefix& p = current(second)[prefix];
    p.lastMet = true;
    if (part < kNarrowFirst || part >= kNarrowFirst + kNarrowCount) {
      // A wide draw met another's wide one (they do meet, now and then, at
      // thousands a second): the next draw is wide again.
      p.metInARow = kMeetingsInARow;
      return;
    }
    p.narrow.set(static_cast<size_t>(part - kNarrowFirst));
    ++p.metInARow;
    // Most standard parts known used and some of them held elsewhere: the
    // rest are most likely taken too. Never for one meeting.
    if (p.narrow.count() >= kWidenAt) p.wide = true;
  }

 private:
  // Known-used standard parts at which a prefix widens once it met another's key (90 %).
  static constexpr size_t kWidenAt = kNarrowCount * 9 / 10;
  // Standard draws met taken one after another after which one draw is wide:
  // well below the draws an add makes before it gives up.
  static constexpr int kMeetingsInARow = 12;

  struct Prefix {
    std::bitset<kNarrowCount> narrow;
    bool wide = false;
    int metInARow = 0;     // standard draws met taken since the last that went in
    bool lastMet = false;  // the latest draw was met taken
    std::unordered_set<uint32_t> wideUsed;
  };

  std::unordered_map<std::string, Prefix>& current(const std::string& second) {
    if (second != second_) {
      second_ = second;
      prefixes_.clear();
    }
    return prefixes_;
  }

  // Integer part of r * 999 + 100, r single precision in [0, 1); a part
  // already used is drawn again, and a crowded second takes the first free one.
  static int drawNarrow(std::bitset<kNarrowCount>& used, std::mt19937& gen) {
    if (used.all()) return -1;
    std::uniform_real_distribution<float> dist(0.0f, 1.0f);
    for (int tries = 0; tries < 64; ++tries) {
      int slot = static_cast<int>(dist(gen) * static_cast<float>(kNarrowCount));
      if (slot > kNarrowCount - 1) slot = kNarrowCount - 1;
      if (!used.test(static_cast<size_t>(slot))) {
        used.set(static_cast<size_t>(slot));
        return slot + kNarrowFirst;
      }
    }
    for (size_t slot = 0; slot < used.size(); ++slot)
      if (!used.test(slot)) {
        used.set(slot);
        return static_cast<int>(slot) + kNarrowFirst;
      }
    return -1;
  }

  static int drawWide(std::unordered_set<uint32_t>& used, std::mt19937& gen) {
    if (used.size() > (kWideLast - kWideFirst) / 2) return -1;  // so a free part is found in few tries
    std::uniform_int_distribution<uint32_t> dist(kWideFirst, kWideLast);
    for (;;)
      if (uint32_t r = dist(gen); used.insert(r).second) return static_cast<int>(r);
  }

  std::mutex mu_;
  std::string second_;
  std::unordered_map<std::string, Prefix> prefixes_;
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

std::string NewNumber(std::string_view prefix) {
  std::string p = prefix.empty() ? std::string("SYS") : std::string(prefix);
  for (;;) {
    std::string stamp = stampOf(now());
    int r = keySpace().draw(p, stamp, generator());
    if (r >= 0) return p + "_" + stamp + "_" + std::to_string(r);
    // Half of the second's ten million random parts are issued: no process
    // gets there, but if one did it would wait for the next second.
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
}

void NoteKeyTaken(std::string_view key) {
  // prefix "_" yymmddhhmmss "_" R; the prefix may itself hold "_".
  const size_t last = key.rfind('_');
  if (last == std::string_view::npos || last < 14 || key[last - 13] != '_') return;
  const std::string_view random = key.substr(last + 1);
  if (random.empty() || random.size() > 7 || random.find_first_not_of("0123456789") != std::string_view::npos) return;
  keySpace().taken(std::string(key.substr(0, last - 13)), std::string(key.substr(last - 12, 12)),
                   std::stoi(std::string(random)));
}

void setKeyClockForTests(KeyClock clock) { testClock.store(clock, std::memory_order_relaxed); }

}  // namespace tivel::mgt
