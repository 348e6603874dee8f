// The console's web files (console/ in the source tree), compiled into the
// program by the build: it serves them itself and loads nothing from
// elsewhere.
#pragma once

#include <string_view>

namespace tivel::tool {

struct ConsoleAsset {
  std::string_view name;         // its path below /console/ ("index.html", "app.js", "pages/users.js")
  std::string_view contentType;  // "text/html; charset=utf-8" ...
  std::string_view etag;         // a strong ETag: the quoted start of the file's SHA-256
  std::string_view body;
};

// The file of that name, or nullptr.
const ConsoleAsset* findConsoleAsset(std::string_view name);

}  // namespace tivel::tool
