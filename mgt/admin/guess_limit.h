// A brake on guessing, kept in this process's memory: after a few failures
// of one key (an account, a client address) each further failure makes the
// key wait, twice as long each time, up to a ceiling. A success clears the
// key. Thread-safe; entries idle for an hour are dropped, so the table stays
// small whatever is tried.
#pragma once

#include <chrono>
#include <cstddef>
#include <map>
#include <mutex>
#include <string>

namespace tivel::mgt {

class GuessLimit {
 public:
  using Clock = std::chrono::steady_clock;
  // `free` failures pass without waiting; the n-th beyond waits 2^(n-1)
  // seconds, at most `ceiling`.
  GuessLimit(int free, std::chrono::seconds ceiling) : free_(free), ceiling_(ceiling) {}

  // How long the key must still wait before it may try again; 0 when it may now.
  std::chrono::seconds wait(const std::string& key, Clock::time_point now = Clock::now());
  // Counts a failure of the key.
  void failed(const std::string& key, Clock::time_point now = Clock::now());
  // Clears the key's failures.
  void succeeded(const std::string& key);

 private:
  struct Entry {
    int failures = 0;
    Clock::time_point until{}, last{};
  };
  void prune(Clock::time_point now);

  const int free_;
  const std::chrono::seconds ceiling_;
  std::mutex mutex_;
  std::map<std::string, Entry> entries_;
};

}  // namespace tivel::mgt
