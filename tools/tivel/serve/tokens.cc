#include "tools/tivel/serve/tokens.h"

#include <cerrno>
#include <cstring>
#include <optional>
#include <sstream>
#include <stdexcept>

#include <fcntl.h>
#include <sodium.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include "tools/tivel/serve/token.h"

namespace tivel::tool {
namespace {

bool validName(const std::string& name) {
  if (name.empty() || name.size() > 64) return false;
  for (char c : name)
    if (!std::isalnum(static_cast<unsigned char>(c)) && c != '_' && c != '-' && c != '.') return false;
  return true;
}

bool validHash(const std::string& hash) {
  if (hash.size() != 64) return false;
  for (char c : hash)
    if (!std::isxdigit(static_cast<unsigned char>(c)) || std::isupper(static_cast<unsigned char>(c))) return false;
  return true;
}

// Holds an exclusive lock on the root's ini directory while the token file
// is read and replaced, so that two `tivel token` runs do not lose a line.
class IniLock {
 public:
  explicit IniLock(const std::string& root) {
    const std::string dir = root + "/ini";
    fd_ = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd_ < 0 || ::flock(fd_, LOCK_EX) != 0)
      throw std::runtime_error("cannot lock " + dir + ": " + std::strerror(errno));
  }
  ~IniLock() { ::close(fd_); }
  IniLock(const IniLock&) = delete;
  IniLock& operator=(const IniLock&) = delete;

 private:
  int fd_ = -1;
};

// Replaces the file whole: a new file, born owner-only, renamed over the old.
void writeTokenLines(const std::string& root, const std::vector<TokenLine>& lines) {
  const std::string path = tokensPath(root), temp = path + ".new";
  std::ostringstream text;
  text << "# name sha256-of-token scope (tivel token add/list/revoke)\n";
  for (const TokenLine& l : lines) text << l.name << ' ' << l.hash << ' ' << l.scope << '\n';
  const std::string bytes = text.str();
  ::unlink(temp.c_str());
  int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
  if (fd < 0) throw std::runtime_error("cannot create " + temp + ": " + std::strerror(errno));
  bool ok = ::write(fd, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size());
  ok = ::fsync(fd) == 0 && ok;
  ok = ::close(fd) == 0 && ok;
  if (!ok || ::rename(temp.c_str(), path.c_str()) != 0) {
    const int saved = errno;
    ::unlink(temp.c_str());
    throw std::runtime_error("cannot write " + path + ": " + std::strerror(saved));
  }
}

// The hash of R/ini/serve.token, or "" when the file is missing.
std::string pagesTokenHash(const std::string& root) {
  struct stat st {};
  if (::stat(serveTokenPath(root).c_str(), &st) != 0) return "";
  return sha256Hex(readServeToken(root));
}

}  // namespace

std::string tokensPath(const std::string& root) { return root + "/ini/serve.tokens"; }

std::string sha256Hex(std::string_view text) {
  unsigned char digest[crypto_hash_sha256_BYTES];
  crypto_hash_sha256(digest, reinterpret_cast<const unsigned char*>(text.data()), text.size());
  static const char digits[] = "0123456789abcdef";
  std::string hex;
  for (unsigned char c : digest) {
    hex += digits[c >> 4];
    hex += digits[c & 15];
  }
  return hex;
}

std::vector<TokenLine> readTokenLines(const std::string& root) {
  const std::string path = tokensPath(root);
  const std::optional<std::string> text = readOwnerOnlyFile(path, "token file");
  if (!text) return {};
  std::istringstream in(*text);
  std::vector<TokenLine> lines;
  int number = 0;
  for (std::string text; std::getline(in, text);) {
    ++number;
    if (!text.empty() && text.back() == '\r') text.pop_back();
    if (text.find_first_not_of(" \t") == std::string::npos || text[text.find_first_not_of(" \t")] == '#') continue;
    // A control character (a NUL, a tab inside a field) is in no line this
    // system writes; such a line is refused rather than read around it.
    for (char c : text)
      if ((static_cast<unsigned char>(c) < 0x20 && c != '\t') || c == 0x7f)
        throw std::runtime_error(path + " line " + std::to_string(number) + ": holds a control character");
    std::istringstream fields(text);
    TokenLine l;
    std::string extra;
    fields >> l.name >> l.hash >> l.scope;
    const bool shaped = !l.scope.empty() && !(fields >> extra) && validName(l.name) && validHash(l.hash);
    try {
      if (!shaped) throw std::invalid_argument("not \"NAME SHA256 SCOPE\"");
      Scope::parse(l.scope);
    } catch (const std::invalid_argument& e) {
      throw std::runtime_error(path + " line " + std::to_string(number) + ": " + e.what());
    }
    lines.push_back(std::move(l));
  }
  return lines;
}

std::string addToken(const std::string& root, const std::string& name, const std::string& scope) {
  if (!validName(name))
    throw std::runtime_error("a token name is 1 to 64 letters, digits, \"_\", \"-\" or \".\": " + name);
  if (name == kPagesToken)
    throw std::runtime_error("the pages' token is " + serveTokenPath(root) +
                             ": delete that file and run tivel init to make a new one");
  std::string text;
  try {
    text = Scope::parse(scope).text();
  } catch (const std::invalid_argument& e) {
    throw std::runtime_error(std::string("--scope: ") + e.what());
  }
  IniLock lock(root);
  std::vector<TokenLine> lines = readTokenLines(root);
  for (const TokenLine& l : lines)
    if (l.name == name) throw std::runtime_error("a token named " + name + " exists (revoke it first)");
  const std::string token = randomToken();
  lines.push_back({name, sha256Hex(token), text});
  writeTokenLines(root, lines);
  return token;
}

void revokeToken(const std::string& root, const std::string& name) {
  IniLock lock(root);
  std::vector<TokenLine> lines = readTokenLines(root);
  const size_t before = lines.size();
  std::erase_if(lines, [&](const TokenLine& l) { return l.name == name; });
  const bool pagesFile = name == kPagesToken && ::unlink(serveTokenPath(root).c_str()) == 0;
  if (lines.size() == before && !pagesFile) throw std::runtime_error("no token named " + name);
  if (lines.size() != before) writeTokenLines(root, lines);
}

bool registerPagesToken(const std::string& root) {
  IniLock lock(root);
  const std::string hash = pagesTokenHash(root);
  if (hash.empty()) return false;
  std::vector<TokenLine> lines = readTokenLines(root);
  for (TokenLine& l : lines)
    if (l.name == kPagesToken) {
      if (l.hash == hash) return false;
      l.hash = hash;
      writeTokenLines(root, lines);
      return true;
    }
  lines.push_back({kPagesToken, hash, "pages"});
  writeTokenLines(root, lines);
  return true;
}

std::shared_ptr<const TokenTable> TokenTable::load(const std::string& root) {
  auto table = std::make_shared<TokenTable>();
  const std::string pagesHash = pagesTokenHash(root);
  bool pagesSeen = false;
  for (const TokenLine& l : readTokenLines(root)) {
    const bool pages = l.name == kPagesToken;
    if (pages && pagesHash.empty()) continue;  // revoked by removing serve.token
    pagesSeen = pagesSeen || pages;
    table->hashes_.push_back(pages ? pagesHash : l.hash);
    table->callers_.push_back({l.name, std::make_shared<const Scope>(Scope::parse(l.scope))});
  }
  // A root made before named tokens: serve.token alone, with the pages' scope.
  if (!pagesSeen && !pagesHash.empty()) {
    table->hashes_.push_back(pagesHash);
    table->callers_.push_back({kPagesToken, std::make_shared<const Scope>(Scope::parse("pages"))});
  }
  return table;
}

std::shared_ptr<const TokenTable> TokenTable::single(const std::string& name, const std::string& token,
                                                     const std::string& scope) {
  auto table = std::make_shared<TokenTable>();
  table->hashes_.push_back(sha256Hex(token));
  table->callers_.push_back({name, std::make_shared<const Scope>(Scope::parse(scope))});
  return table;
}

const Caller* TokenTable::find(std::string_view token) const {
  const std::string hash = sha256Hex(token);
  const Caller* found = nullptr;
  for (size_t i = 0; i < hashes_.size(); ++i)
    if (sameToken(hash, hashes_[i]) && !found) found = &callers_[i];
  return found;
}

}  // namespace tivel::tool
