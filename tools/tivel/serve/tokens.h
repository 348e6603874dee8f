// The gateway's named tokens: R/ini/serve.tokens (owner-only) holds a line
// per token, "NAME SHA256 SCOPE": its name, the SHA-256 of the token in
// hexadecimal and its scope text. Only hashes are kept; a token is shown
// once, when it is made. R/ini/serve.token stays the pages' token: whatever
// it holds is the token named "pages".
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "tools/tivel/serve/scope.h"

namespace tivel::tool {

// R/ini/serve.tokens.
std::string tokensPath(const std::string& root);

// The name of the pages' token (R/ini/serve.token).
inline constexpr const char* kPagesToken = "pages";

struct TokenLine {
  std::string name;
  std::string hash;  // SHA-256 of the token, 64 lower-case hexadecimal digits
  std::string scope;
};

// The lines of R/ini/serve.tokens (none when it is missing); fails
// (std::runtime_error) when the file may be read by others or a line is
// not "NAME HASH SCOPE" with a valid scope.
std::vector<TokenLine> readTokenLines(const std::string& root);

// Makes a new token named `name` with the scope, stores its hash and returns
// the token (64 hexadecimal digits), which is shown nowhere else. Fails
// (std::runtime_error) for a name taken, a name that is not 1 to 64 letters,
// digits, "_", "-" or ".", the name "pages" (see R/ini/serve.token), or a scope that does not parse.
std::string addToken(const std::string& root, const std::string& name, const std::string& scope);

// Removes the token of that name; fails (std::runtime_error) when there is
// none. Revoking "pages" also removes R/ini/serve.token.
void revokeToken(const std::string& root, const std::string& name);

// Registers R/ini/serve.token as the token "pages": adds the line with the
// pages' scope, or replaces the hash of an existing "pages" line (keeping
// its scope) when the file changed. Returns true when it wrote.
bool registerPagesToken(const std::string& root);

// The tokens a server accepts, each with its name and parsed scope.
class TokenTable {
 public:
  // R/ini/serve.tokens, with R/ini/serve.token (when present) as "pages".
  // Fails as readTokenLines and readServeToken fail.
  static std::shared_ptr<const TokenTable> load(const std::string& root);
  // A table of one token (tests, benchmarks).
  static std::shared_ptr<const TokenTable> single(const std::string& name, const std::string& token,
                                                  const std::string& scope);

  // The caller a presented token stands for, or nullptr. Every entry is
  // compared, in time that does not depend on where a hash differs.
  const Caller* find(std::string_view token) const;
  size_t size() const { return callers_.size(); }

 private:
  std::vector<std::string> hashes_;
  std::vector<Caller> callers_;
};

// The SHA-256 of a text, in lower-case hexadecimal.
std::string sha256Hex(std::string_view text);

}  // namespace tivel::tool
