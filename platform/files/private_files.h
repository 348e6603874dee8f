// Files and directories of a portal root are its owner's alone: directories
// 0700 and files 0600, whatever the process's umask. A directory that is
// shared with its group for reading (set-group-ID and group-readable, as
// `tivel init --group` makes the root's directories) passes that on: what
// is created in it is the group's too (the set-group-ID bit gives new
// entries the directory's group), directories 2750 and files 0640. So the
// root's directories remember the group, and every component follows them.
#pragma once

#include <sys/types.h>

#include <string>
#include <string_view>

namespace tivel::files {

// True when the directory is shared with its group: set-group-ID and group-readable.
bool sharedWithGroup(const std::string& dir);

// The mode of a new file in `dir`: 0640 when dir is shared with its group, else 0600.
mode_t privateFileMode(const std::string& dir);

// The mode of a new directory in `parent`: 02750 when parent is shared with its group, else 0700.
mode_t privateDirectoryMode(const std::string& parent);

// Creates `dir` and its missing parents, each with the private mode its own
// parent gives (privateDirectoryMode), whatever the umask. True when `dir`
// is a directory afterwards; errno tells why not.
bool makePrivateDirectories(const std::string& dir);

// Creates the file `path`, which must not exist yet, with privateFileMode of
// its directory, and opens it with `flags` (O_WRONLY or O_RDWR, plus any
// other flag). Never opens an existing file or a link (O_EXCL, O_NOFOLLOW).
// The descriptor, or -1 with errno set (EEXIST when the name is taken).
int createPrivateFile(const std::string& path, int flags);

// Opens `path` with `flags` when it exists (never through a link as its
// last part), else creates it as createPrivateFile does. The descriptor, or
// -1 with errno set.
int openPrivateFile(const std::string& path, int flags);

// How an append ended.
enum class Append { Done, NotOpened, NotWritten };

// Appends `text` to the file `path` (a log), creating it privately when missing.
Append appendToPrivateFile(const std::string& path, std::string_view text);

// Appends `text` to the file `name` of the log directory `dir`, creating
// both privately when missing. Neither is ever reached through a link: a
// `dir` whose last part is a symbolic link, or a link named `name`, is not
// opened (NotOpened), nor is anything but a plain file written.
Append appendToLog(const std::string& dir, const std::string& name, std::string_view text);

// Writes `text` to the new file `path` (createPrivateFile). False when the
// name is taken (errno EEXIST) or the file cannot be written whole, which
// then is removed.
bool writeNewPrivateFile(const std::string& path, std::string_view text);

}  // namespace tivel::files
