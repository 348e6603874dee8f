// The INI layer on arbitrary file contents: reads never fail or overrun the
// buffer, and a key written is read back as written.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

#include "platform/profile/profile.h"

namespace {

std::string scratchFile() {
  static const std::string path = "/tmp/tivel_profile_fuzz_" + std::to_string(::getpid()) + ".ini";
  return path;
}

void check(bool ok, const char* what) {
  if (!ok) {
    std::fprintf(stderr, "invariant broken: %s\n", what);
    std::abort();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace tivel::profile;
  const std::string path = scratchFile();
  std::string text(reinterpret_cast<const char*>(data), size);
  std::ofstream(path, std::ios::binary | std::ios::trunc) << text;

  // Names taken from the input itself reach the sections and keys it holds.
  std::string first = text.substr(0, text.find_first_of("=]\r\n"));
  const std::string names[] = {"s", "k", "DB", "mode", first};
  for (const std::string& section : names)
    for (const std::string& key : names) {
      char buf[8];
      long n = getPrivateProfileString(section, key, "def", buf, sizeof buf, path);
      check(n >= 0 && n < static_cast<long>(sizeof buf) && buf[n] == '\0', "buffer bounds");
      check(readProfileString(path, section, key).size() <= 254, "254-byte read");
    }

  if (writePrivateProfileString("fuzz", "written", "value 1", path)) {
    check(readProfileString(path, "fuzz", "written") == "value 1", "a written key reads back");
    check(readProfileString(path, "FUZZ", " Written ") == "value 1", "names match in any case");
  }
  std::remove(path.c_str());
  return 0;
}
