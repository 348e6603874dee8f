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
#include <filesystem>
#include <fstream>
#include <iterator>
#include <mutex>
#include <optional>
#include <vector>

#include "platform/files/private_files.h"

namespace tivel::profile {
namespace {

bool isBlank(char c) { return c == ' ' || c == '\t'; }

std::string_view trim(std::string_view s) {
  while (!s.empty() && isBlank(s.front())) s.remove_prefix(1);
  while (!s.empty() && isBlank(s.back())) s.remove_suffix(1);
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

// The file's lines, or nullopt when it cannot be read. Each line keeps the
// line end it had ("" for a last line without one), so a rewrite leaves the
// lines it does not change byte for byte; added lines take the file's style.
struct File {
  std::vector<std::string> lines;
  std::vector<std::string> ends;
  bool crlf = false;  // the first line ends in CR LF
};

// Splits text into lines the way the Windows profile functions read it: CR LF,
// LF and a lone CR each end a line.
File split(const std::string& all) {
  File f;
  size_t start = 0;
  while (start < all.size()) {
    size_t cut = all.find_first_of("\r\n", start);
    if (cut == std::string::npos) {
      f.lines.push_back(all.substr(start));
      f.ends.emplace_back();
      break;
    }
    size_t endLen = all.compare(cut, 2, "\r\n") == 0 ? 2 : 1;
    f.lines.push_back(all.substr(start, cut - start));
    f.ends.push_back(all.substr(cut, endLen));
    start = cut + endLen;
  }
  f.crlf = !f.ends.empty() && f.ends.front() == "\r\n";
  return f;
}

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
  return split(*text);
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

// A value wholly enclosed in a matching pair of double or single quotes is
// read without them; the text inside is kept as it is.
std::string_view unquote(std::string_view v) {
  if (v.size() >= 2 && (v.front() == '"' || v.front() == '\'') && v.back() == v.front())
    return v.substr(1, v.size() - 2);
  return v;
}

std::string_view lookup(std::string_view section, std::string_view key, std::string_view def, const std::string& path,
                        std::optional<File>& file) {
  file = load(path);
  if (!file) return trim(def);
  Place p = locate(*file, section, key);
  if (p.keyLine == std::string::npos) return trim(def);
  return unquote(keyValue(content(*file, p.keyLine))->second);
}

// Writes in this process are read-modify-write of a whole file: one at a time,
// so that two writers of different keys do not lose each other's change.
std::mutex& writeMutex() {
  static std::mutex m;
  return m;
}

}  // namespace

bool sameProfileName(std::string_view a, std::string_view b) { return sameName(a, b); }

namespace {

// The components name a root's files R/bin/../ini/FILE. A root copied or
// restored without its empty bin/ still has R/ini/FILE: when a directory on
// the way is missing, the path is read lexically.
std::string rootFile(const std::string& written) {
  if (written.find("/../") == std::string::npos) return written;
  struct stat st {};
  const std::filesystem::path p(written);
  if (::stat(p.parent_path().c_str(), &st) == 0) return written;
  return p.lexically_normal().string();
}

}  // namespace

long getPrivateProfileString(std::string_view section, std::string_view key, std::string_view def, char* buf,
                             size_t size, const std::string& writtenPath) {
  const std::string path = rootFile(writtenPath);
  if (buf == nullptr || size == 0) return 0;
  std::optional<File> file;
  std::string_view value = lookup(section, key, def, path, file);
  size_t n = cutAt(value, size - 1);
  std::memcpy(buf, value.data(), n);
  buf[n] = '\0';
  return static_cast<long>(n);
}

long getPrivateProfileString(std::string_view section, std::string_view key, std::string_view def, std::string* out,
                             size_t size, const std::string& writtenPath) {
  const std::string path = rootFile(writtenPath);
  if (out == nullptr) return 0;
  out->clear();
  if (size == 0) return 0;
  std::optional<File> file;
  std::string_view value = lookup(section, key, def, path, file);
  out->assign(value.substr(0, cutAt(value, size - 1)));
  return static_cast<long>(out->size());
}

bool writePrivateProfileString(std::string_view section, std::string_view key, std::string_view value,
                               const std::string& writtenPath) {
  const std::string path = rootFile(writtenPath);
  // Names or values with line ends would change the file's shape.
  auto hasLineEnd = [](std::string_view s) { return s.find_first_of("\r\n") != std::string_view::npos; };
  if (trim(section).empty() || trim(key).empty() || hasLineEnd(section) || hasLineEnd(key) || hasLineEnd(value) ||
      key.find('=') != std::string_view::npos || section.find(']') != std::string_view::npos ||
      trim(key).front() == '[')
    return false;

  std::lock_guard lock(writeMutex());
  if (isOtherThanAFile(path)) return false;  // never replace a FIFO, a device or a directory
  std::optional<File> loaded = load(path);
  File f = loaded ? *loaded : File{};
  std::string entry = std::string(trim(key)) + "=" + std::string(trim(value));
  Place p = locate(f, section, key);
  const char* eol = f.crlf ? "\r\n" : "\n";
  // An added line goes after `at`; a line before it that has no line end
  // (the file's last) gets one first, so the two never run together.
  auto add = [&](size_t at, std::string line) {
    if (at > 0 && f.ends[at - 1].empty()) f.ends[at - 1] = eol;
    f.lines.insert(f.lines.begin() + static_cast<std::ptrdiff_t>(at), std::move(line));
    f.ends.insert(f.ends.begin() + static_cast<std::ptrdiff_t>(at), eol);
  };
  if (p.keyLine != std::string::npos) {
    f.lines[p.keyLine] = entry;
  } else if (p.header != std::string::npos) {
    add(p.lastEntry + 1, entry);
  } else {
    add(f.lines.size(), "[" + std::string(trim(section)) + "]");
    add(f.lines.size(), entry);
  }

  std::string text;
  for (size_t i = 0; i < f.lines.size(); ++i) text.append(f.lines[i]).append(f.ends[i]);

  // Write beside the file and rename over it, so readers never see half a
  // file. The temporary is new (never a link or another file) and private
  // from its first moment; the replacement keeps the mode of the file it
  // replaces, and a new file takes the private mode of its directory.
  static std::atomic<unsigned> serial{0};
  std::string tmp = path + ".tmp" + std::to_string(::getpid()) + "." + std::to_string(serial++);
  int fd = files::createPrivateFile(tmp, O_WRONLY);
  if (fd < 0) return false;
  struct stat st;
  bool ok = true;
  if (loaded && ::stat(path.c_str(), &st) == 0) ok = ::fchmod(fd, st.st_mode & 07777) == 0;
  for (size_t done = 0; ok && done < text.size();) {
    ssize_t n = ::write(fd, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    ok = n > 0;
    if (ok) done += static_cast<size_t>(n);
  }
  ok = (::close(fd) == 0) && ok;
  if (ok) ok = std::rename(tmp.c_str(), path.c_str()) == 0;
  if (!ok) ::unlink(tmp.c_str());
  return ok;
}

std::string readProfileString(const std::string& path, std::string_view section, std::string_view key) {
  char buf[255];
  long n = getPrivateProfileString(section, key, "", buf, sizeof buf, path);
  if (n < 1) return std::string();
  return std::string(buf, static_cast<size_t>(n));
}

std::string textBeforeNul(std::string_view s) { return std::string(s.substr(0, s.find('\0'))); }

std::string readIniValue(const std::string& path, std::string_view section, std::string_view key) {
  std::string value = textBeforeNul(readProfileString(path, section, key));
  while (!value.empty() && value.back() == ' ') value.pop_back();
  return value;
}

}  // namespace tivel::profile
