// Profile files are small, so every call reads the whole file: reads scan its
// lines, writes rebuild the text and replace the file in one rename.
#include "platform/profile/profile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <mutex>
#include <optional>
#include <vector>

namespace tivel::profile {
namespace {

bool isBlank(char c) { return c == ' ' || c == '\t'; }

std::string_view trim(std::string_view s) {
  while (!s.empty() && isBlank(s.front())) s.remove_prefix(1);
  while (!s.empty() && (isBlank(s.back()) || s.back() == '\r')) s.remove_suffix(1);
  return s;
}

bool sameName(std::string_view a, std::string_view b) {
  a = trim(a);
  b = trim(b);
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    unsigned char x = static_cast<unsigned char>(a[i]), y = static_cast<unsigned char>(b[i]);
    if (x >= 'A' && x <= 'Z') x = static_cast<unsigned char>(x - 'A' + 'a');
    if (y >= 'A' && y <= 'Z') y = static_cast<unsigned char>(y - 'A' + 'a');
    if (x != y) return false;
  }
  return true;
}

// The file's lines, or nullopt when it cannot be read. Remembers whether the
// file uses CRLF so that added lines match it.
struct File {
  std::vector<std::string> lines;
  bool crlf = false;
  bool endsWithNewline = true;
};

// The whole text of a regular file (or a link to one); nullopt for a missing
// or unreadable file and for anything else (a FIFO, a device, a directory),
// which is refused before any read: reading a FIFO waits for a writer that
// may never come, and a device may never end.
std::optional<std::string> readRegularFile(const std::string& path) {
  int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return std::nullopt;
  struct stat st;
  std::optional<std::string> all;
  if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode)) {
    all.emplace();
    char buf[16384];
    for (;;) {
      ssize_t n = ::read(fd, buf, sizeof buf);
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) all.reset();
      if (n <= 0) break;
      all->append(buf, static_cast<size_t>(n));
    }
  }
  ::close(fd);
  return all;
}

// True when something other than a regular file (or a link to one) has that name.
bool isOtherThanAFile(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0 && !S_ISREG(st.st_mode);
}

std::optional<File> load(const std::string& path) {
  std::optional<std::string> text = readRegularFile(path);
  if (!text) return std::nullopt;
  std::string all = std::move(*text);
  File f;
  if (all.empty()) return f;
  f.endsWithNewline = all.back() == '\n';
  size_t start = 0;
  bool first = true;
  while (start < all.size()) {
    size_t nl = all.find('\n', start);
    std::string line = all.substr(start, nl == std::string::npos ? std::string::npos : nl - start);
    if (!line.empty() && line.back() == '\r') {
      line.pop_back();
      if (first) f.crlf = true;
    }
    first = false;
    f.lines.push_back(std::move(line));
    if (nl == std::string::npos) break;
    start = nl + 1;
  }
  return f;
}

// A line's content for matching: a UTF-8 byte-order mark on the first line is not part of it.
std::string_view content(const File& f, size_t i) {
  std::string_view s = f.lines[i];
  if (i == 0 && s.substr(0, 3) == "\xEF\xBB\xBF") s.remove_prefix(3);
  return s;
}

// The section name of a "[name]" line, or nullopt for any other line.
std::optional<std::string_view> sectionName(std::string_view line) {
  line = trim(line);
  if (line.empty() || line.front() != '[') return std::nullopt;
  line.remove_prefix(1);
  size_t close = line.find(']');
  return close == std::string_view::npos ? line : line.substr(0, close);
}

// Splits a "key=value" line; nullopt for comments and lines without '='.
std::optional<std::pair<std::string_view, std::string_view>> keyValue(std::string_view line) {
  std::string_view t = trim(line);
  if (t.empty() || t.front() == ';') return std::nullopt;
  size_t eq = t.find('=');
  if (eq == std::string_view::npos) return std::nullopt;
  return std::make_pair(trim(t.substr(0, eq)), trim(t.substr(eq + 1)));
}

// Where a key stands: its section's header line and its own line (npos when absent).
struct Place {
  size_t header = std::string::npos;
  size_t lastEntry = std::string::npos;  // last non-blank, non-comment line of the section
  size_t keyLine = std::string::npos;
};

Place locate(const File& f, std::string_view section, std::string_view key) {
  Place p;
  bool inSection = false;
  for (size_t i = 0; i < f.lines.size(); ++i) {
    std::string_view line = content(f, i);
    if (auto name = sectionName(line)) {
      if (inSection) break;  // the first section of that name is the one used
      if (sameName(*name, section)) {
        inSection = true;
        p.header = p.lastEntry = i;
      }
      continue;
    }
    if (!inSection) continue;
    std::string_view t = trim(line);
    if (!t.empty() && t.front() != ';') p.lastEntry = i;
    if (auto kv = keyValue(line); kv && sameName(kv->first, key)) {
      p.keyLine = i;
      break;
    }
  }
  return p;
}

// The length of the longest prefix of s no longer than max that does not end
// inside a UTF-8 character.
size_t cutAt(std::string_view s, size_t max) {
  if (s.size() <= max) return s.size();
  size_t n = max;
  while (n > 0 && (static_cast<unsigned char>(s[n]) & 0xC0) == 0x80) --n;
  return n;
}

std::string_view lookup(std::string_view section, std::string_view key, std::string_view def,
                        const std::string& path, std::optional<File>& file) {
  file = load(path);
  if (!file) return trim(def);
  Place p = locate(*file, section, key);
  if (p.keyLine == std::string::npos) return trim(def);
  return keyValue(content(*file, p.keyLine))->second;
}

// Writes in this process are read-modify-write of a whole file: one at a time,
// so that two writers of different keys do not lose each other's change.
std::mutex& writeMutex() {
  static std::mutex m;
  return m;
}

}  // namespace

long getPrivateProfileString(std::string_view section, std::string_view key, std::string_view def,
                             char* buf, size_t size, const std::string& path) {
  if (buf == nullptr || size == 0) return 0;
  std::optional<File> file;
  std::string_view value = lookup(section, key, def, path, file);
  size_t n = cutAt(value, size - 1);
  std::memcpy(buf, value.data(), n);
  buf[n] = '\0';
  return static_cast<long>(n);
}

long getPrivateProfileString(std::string_view section, std::string_view key, std::string_view def,
                             std::string* out, size_t size, const std::string& path) {
  if (out == nullptr) return 0;
  out->clear();
  if (size == 0) return 0;
  std::optional<File> file;
  std::string_view value = lookup(section, key, def, path, file);
  out->assign(value.substr(0, cutAt(value, size - 1)));
  return static_cast<long>(out->size());
}

bool writePrivateProfileString(std::string_view section, std::string_view key, std::string_view value,
                               const std::string& path) {
  // Names or values with line ends would change the file's shape.
  auto hasLineEnd = [](std::string_view s) { return s.find_first_of("\r\n") != std::string_view::npos; };
  if (trim(section).empty() || trim(key).empty() || hasLineEnd(section) || hasLineEnd(key) ||
      hasLineEnd(value) || key.find('=') != std::string_view::npos || section.find(']') != std::string_view::npos)
    return false;

  std::lock_guard lock(writeMutex());
  if (isOtherThanAFile(path)) return false;  // never replace a FIFO, a device or a directory
  std::optional<File> loaded = load(path);
  File f = loaded ? *loaded : File{};
  std::string entry = std::string(trim(key)) + "=" + std::string(trim(value));
  Place p = locate(f, section, key);
  if (p.keyLine != std::string::npos) {
    f.lines[p.keyLine] = entry;
  } else if (p.header != std::string::npos) {
    f.lines.insert(f.lines.begin() + static_cast<std::ptrdiff_t>(p.lastEntry + 1), entry);
  } else {
    f.lines.push_back("[" + std::string(trim(section)) + "]");
    f.lines.push_back(entry);
  }

  const char* eol = f.crlf ? "\r\n" : "\n";
  std::string text;
  for (size_t i = 0; i < f.lines.size(); ++i) {
    text += f.lines[i];
    if (i + 1 < f.lines.size() || f.endsWithNewline) text += eol;
  }

  // Write beside the file and rename over it, so readers never see half a file.
  static std::atomic<unsigned> serial{0};
  std::string tmp = path + ".tmp" + std::to_string(::getpid()) + "." + std::to_string(serial++);
  FILE* out = std::fopen(tmp.c_str(), "wb");
  if (out == nullptr) return false;
  // The replacement keeps the permissions of the file it replaces.
  struct stat st;
  if (loaded && ::stat(path.c_str(), &st) == 0) ::fchmod(::fileno(out), st.st_mode & 07777);
  bool ok = std::fwrite(text.data(), 1, text.size(), out) == text.size();
  ok = (std::fclose(out) == 0) && ok;
  if (ok) ok = std::rename(tmp.c_str(), path.c_str()) == 0;
  if (!ok) std::remove(tmp.c_str());
  return ok;
}

std::string readProfileString(const std::string& path, std::string_view section, std::string_view key) {
  char buf[255];
  long n = getPrivateProfileString(section, key, "", buf, sizeof buf, path);
  if (n < 1) return std::string();
  return std::string(buf, static_cast<size_t>(n));
}

}  // namespace tivel::profile
