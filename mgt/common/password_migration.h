// Hashing the passwords a portal still stores as text, so that turning
// hashing on does not wait for every user to change a password.
#pragma once

namespace tivel::mgt {

struct PasswordMigration {
  long hashed = 0;            // plain passwords replaced by their hash
  long alreadyHashed = 0;     // left alone: hashes already
  long withoutPassword = 0;   // left alone: Null or empty (nothing to protect; still opens only an empty password)
  long changedMeanwhile = 0;  // left alone: the row changed between reading and writing (run again)
};

// Replaces every plain stored password of the management database with its
// Argon2id hash, on this thread's shared connection. Each row is written
// only if it still holds the text that was hashed, so a concurrent change is
// never undone. Running it again changes nothing. Failures reach the caller.
PasswordMigration hashStoredPasswords();

}  // namespace tivel::mgt
