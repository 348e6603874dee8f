#include "mgt/testing/directory.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <stdexcept>
#include <thread>

#include "platform/profile/profile.h"
#include "testing/engines.h"

namespace tivel::mgt::testing {
namespace {

using ::tivel::testing::env;

int listenOn(int port, int backlog) {
  int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  a.sin_port = htons(static_cast<uint16_t>(port));
  if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || ::listen(fd, backlog) != 0) {
    if (fd >= 0) ::close(fd);
    throw std::runtime_error("cannot listen on a loopback port");
  }
  return fd;
}

int portOf(int fd) {
  sockaddr_in a{};
  socklen_t n = sizeof a;
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &n);
  return ntohs(a.sin_port);
}

// A port nothing listens on now.
int freePort() {
  int fd = listenOn(0, 1);
  int port = portOf(fd);
  ::close(fd);
  return port;
}

// Starts connecting to the port without waiting; the socket, or -1.
int connectTo(int port, bool wait) {
  int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  if (fd < 0) return -1;
  if (!wait) ::fcntl(fd, F_SETFL, O_NONBLOCK);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  a.sin_port = htons(static_cast<uint16_t>(port));
  int rc = ::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
  if (wait && rc != 0) {
    ::close(fd);
    return -1;
  }
  return fd;
}

}  // namespace

std::optional<TestDirectory> TestDirectory::fromEnvironment(std::string* why) {
  if (env("TIVEL_TEST_LDAP") == "off") {
    *why = "directory tests off (TIVEL_TEST_LDAP=off)";
    return std::nullopt;
  }
  TestDirectory d{env("TIVEL_TEST_LDAP_URL"),
                  env("TIVEL_TEST_LDAPS_URL"),
                  env("TIVEL_TEST_LDAP_CA"),
                  env("TIVEL_TEST_LDAP_WRONG_CA"),
                  env("TIVEL_TEST_LDAP_BASE"),
                  env("TIVEL_TEST_LDAP_BIND_DN"),
                  env("TIVEL_TEST_LDAP_BIND_PASSWORD_FILE"),
                  env("TIVEL_TEST_LDAP_CONF")};
  if (d.url.empty() || d.ldapsUrl.empty() || d.ca.empty() || d.conf.empty()) {
    *why = "no test directory: start one with eval \"$(scripts/slapd-cluster.sh start)\" (scripts/test.sh does)";
    return std::nullopt;
  }
  return d;
}

bool directoryRequired() { return !env("CI").empty() && env("TIVEL_TEST_LDAP") != "off"; }

OwnDirectory::OwnDirectory(const TestDirectory& d) {
  for (int attempt = 0; attempt < 5 && pid_ < 0; ++attempt) {
    int port = freePort(), tlsPort = freePort();
    if (port == tlsPort) continue;
    url_ = "ldap://127.0.0.1:" + std::to_string(port);
    ldapsUrl_ = "ldaps://127.0.0.1:" + std::to_string(tlsPort);
    std::string listen = url_ + "/ " + ldapsUrl_ + "/";
    pid_t child = ::fork();
    if (child == 0) {
      // The server dies with the test, whatever ends it.
      ::prctl(PR_SET_PDEATHSIG, SIGKILL);
      int null = ::open("/dev/null", O_RDWR);
      ::dup2(null, 1);
      ::dup2(null, 2);
      ::execl("/usr/sbin/slapd", "slapd", "-d", "0", "-f", d.conf.c_str(), "-h", listen.c_str(),
              static_cast<char*>(nullptr));
      ::_exit(127);
    }
    // Ready when both ports take connections.
    for (int i = 0; i < 200; ++i) {
      int a = connectTo(port, true), b = connectTo(tlsPort, true);
      if (a >= 0) ::close(a);
      if (b >= 0) ::close(b);
      if (a >= 0 && b >= 0) {
        pid_ = child;
        break;
      }
      if (::waitpid(child, nullptr, WNOHANG) == child) break;  // port taken meanwhile: try others
      std::this_thread::sleep_for(std::chrono::milliseconds(25));
    }
    if (pid_ < 0) {
      ::kill(child, SIGKILL);
      ::waitpid(child, nullptr, 0);
    }
  }
  if (pid_ < 0) throw std::runtime_error("a directory server of the test's own did not start");
}

OwnDirectory::~OwnDirectory() {
  ::kill(pid_, SIGKILL);
  ::waitpid(pid_, nullptr, 0);
}

void OwnDirectory::pause() { ::kill(pid_, SIGSTOP); }
void OwnDirectory::resume() { ::kill(pid_, SIGCONT); }

BlackHole::BlackHole() {
  // A queue of length 0 holds one finished handshake; the ones after it are
  // dropped by the kernel until someone accepts, which nobody does.
  listener_ = listenOn(0, 0);
  port_ = portOf(listener_);
  for (int& f : fillers_) f = connectTo(port_, false);
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
}

BlackHole::~BlackHole() {
  for (int f : fillers_)
    if (f >= 0) ::close(f);
  ::close(listener_);
}

void writeDirectoryConfig(const std::string& root, const std::map<std::string, std::string>& keys) {
  for (const auto& [key, value] : keys)
    if (!profile::writePrivateProfileString("LDAP", key, value, root + "/ini/SysTivel.ini"))
      throw std::runtime_error("cannot write " + root + "/ini/SysTivel.ini");
}

}  // namespace tivel::mgt::testing
