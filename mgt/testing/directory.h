// Test support for directory login: the throwaway directory server that
// scripts/slapd-cluster.sh starts (named by TIVEL_TEST_LDAP_*), a server of
// the test's own on the same data that the test may pause or end, and a port
// that never completes a connection.
#pragma once

#include <sys/types.h>

#include <map>
#include <optional>
#include <string>

namespace tivel::mgt::testing {

// The directory the environment names.
struct TestDirectory {
  std::string url, ldapsUrl, ca, wrongCa, base, bindDn, bindPasswordFile, conf;

  // The directory, or nullopt (with *why saying so) when none is named.
  static std::optional<TestDirectory> fromEnvironment(std::string* why);
};

// True when a missing test directory fails a test rather than skips it: under
// CI (CI set), unless TIVEL_TEST_LDAP=off.
bool directoryRequired();

// A slapd of the test's own on the directory's configuration and data, on
// free loopback ports; killed with the object, or with the test process.
class OwnDirectory {
 public:
  explicit OwnDirectory(const TestDirectory& d);
  ~OwnDirectory();
  OwnDirectory(const OwnDirectory&) = delete;
  OwnDirectory& operator=(const OwnDirectory&) = delete;

  const std::string& url() const { return url_; }
  const std::string& ldapsUrl() const { return ldapsUrl_; }
  // Stops (SIGSTOP) the server: it keeps accepting connections and never answers.
  void pause();
  // Lets it run again.
  void resume();

 private:
  pid_t pid_ = -1;
  std::string url_, ldapsUrl_;
};

// A loopback port whose listening queue is full, so that a new connection's
// handshake is never completed (as when packets are dropped).
class BlackHole {
 public:
  BlackHole();
  ~BlackHole();
  BlackHole(const BlackHole&) = delete;
  BlackHole& operator=(const BlackHole&) = delete;
  std::string url() const { return "ldap://127.0.0.1:" + std::to_string(port_); }

 private:
  int listener_ = -1, port_ = 0;
  int fillers_[4] = {-1, -1, -1, -1};
};

// Writes the [LDAP] section of a root's SysTivel.ini, one key per entry.
void writeDirectoryConfig(const std::string& root, const std::map<std::string, std::string>& keys);

}  // namespace tivel::mgt::testing
