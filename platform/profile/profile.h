// Profile (INI) files read and written with the rules of the classic Windows
// profile functions: "[section]" headers, "key=value" lines, ';' comments.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace tivel::profile {

// Copies the value of `key` in `section` of the file at `path` into `buf` (size
// `size`, NUL-terminated) and returns the number of bytes copied. Section and
// key names match in any letter case and without surrounding blanks; the value
// is trimmed of blanks. A missing file, section or key copies `def` instead. At
// most size-1 bytes are copied, never splitting a UTF-8 character; size 0
// copies nothing and returns 0.
long getPrivateProfileString(std::string_view section, std::string_view key, std::string_view def, char* buf,
                             size_t size, const std::string& path);

// The same into a string; `size` plays the part of the buffer size.
long getPrivateProfileString(std::string_view section, std::string_view key, std::string_view def, std::string* out,
                             size_t size, const std::string& path);

// Sets `key` in `section` of the file at `path` to `value`: replaces the key's
// line in place, else adds the key at the end of its section, else adds the
// section at the end of the file; creates a missing file but not a missing
// directory. The file is replaced whole, so a failure leaves it as it was.
// Returns true on success; false, writing nothing, for names or a value that
// would change the file's shape (a line end, "=" in the key, "]" in the
// section, a key that would read as a section header).
bool writePrivateProfileString(std::string_view section, std::string_view key, std::string_view value,
                               const std::string& path);

// Whether two section or key names are the same to these functions: letter
// case and surrounding blanks ignored.
bool sameProfileName(std::string_view a, std::string_view b);

// The value as the management components read it: a 255-byte buffer (so at
// most 254 bytes), no default; the empty string when nothing was read.
std::string readProfileString(const std::string& path, std::string_view section, std::string_view key);

// The text up to its first NUL character (all of it when there is none).
std::string textBeforeNul(std::string_view s);

// A value as the components use it: readProfileString's, cut at its first
// NUL, trailing blanks dropped.
std::string readIniValue(const std::string& path, std::string_view section, std::string_view key);

}  // namespace tivel::profile
