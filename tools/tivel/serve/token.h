// The gateway's access token: a random 256-bit value kept in R/ini/serve.token
// (mode 0600), which every HTTP caller presents as a bearer token.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace tivel::tool {

// R/ini/serve.token.
std::string serveTokenPath(const std::string& root);

// Writes a new token (64 hexadecimal digits) to R/ini/serve.token, readable
// by its owner only, unless the file exists. Returns true when it wrote one;
// fails (std::runtime_error) when the file cannot be made.
bool ensureServeToken(const std::string& root);

// The token of R/ini/serve.token; fails (std::runtime_error) when the file is
// missing, unreadable, holds fewer than 32 characters, or may be read by
// other users.
std::string readServeToken(const std::string& root);

// Writes `text` to a new file at `path`, readable by its owner only, unless
// the file exists. Returns true when it wrote; fails (std::runtime_error)
// when the file cannot be made.
bool writeSecretFile(const std::string& path, const std::string& text);

// The first line of a file only its owner may read (trailing blanks and CR
// removed); fails (std::runtime_error) naming `what` when it is missing,
// unreadable, a symbolic link or no plain file, may be read by other users,
// or holds a control character.
std::string readSecretFile(const std::string& path, const std::string& what);

// The whole of a plain file only its owner may read, opened without
// following a link; nullopt when it is missing. Fails (std::runtime_error)
// naming `what` when it is a link, no plain file, unreadable, or may be
// read by other users.
std::optional<std::string> readOwnerOnlyFile(const std::string& path, const std::string& what);

// A new random token: 256 bits as 64 hexadecimal digits.
std::string randomToken();

// Whether two tokens are equal, taking the same time wherever they differ.
bool sameToken(std::string_view given, std::string_view expected);

}  // namespace tivel::tool
