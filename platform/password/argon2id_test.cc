// Password hashes: a hash opens only its own password, and only a hash
// opens anything; malformed or foreign text is refused without a crash.
#include "platform/password/argon2id.h"

#include <gtest/gtest.h>

#include <cstring>

namespace tivel::password {
namespace {

TEST(Argon2idTest, HashOpensOnlyItsPassword) {
  const std::string secret("pässwörd\0tail", 13);
  const std::optional<std::string> hash = argon2idHash(secret);
  ASSERT_TRUE(hash);
  EXPECT_TRUE(isArgon2idHash(*hash));
  EXPECT_EQ(hash->rfind("$argon2id$v=19$m=65536,t=2,p=1$", 0), 0u) << *hash;
  EXPECT_TRUE(argon2idMatches(*hash, secret));
  EXPECT_FALSE(argon2idMatches(*hash, "pässwörd")) << "the text after a NUL counts";
  EXPECT_FALSE(argon2idMatches(*hash, secret + " "));
  EXPECT_NE(*argon2idHash(secret), *hash) << "every hash has its own salt";

  // Text that is not a whole hash opens nothing, not even itself.
  for (const std::string& text : {std::string("plain"), std::string("$argon2id$"), hash->substr(0, hash->size() - 4),
                                  *hash + "$", std::string(200, '$')}) {
    EXPECT_FALSE(argon2idMatches(text, text)) << text;
    EXPECT_FALSE(argon2idMatches(text, secret)) << text;
  }
  EXPECT_FALSE(isArgon2idHash("$argon2i$v=19$m=4096,t=3,p=1$c2FsdA$aGFzaA"));

  unsigned char a[16] = {}, b[16] = {};
  ASSERT_TRUE(randomBytes(a, sizeof a) && randomBytes(b, sizeof b));
  EXPECT_NE(std::memcmp(a, b, sizeof a), 0);
}

}  // namespace
}  // namespace tivel::password
