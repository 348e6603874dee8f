#include "mgt/admin/second_factor.h"

#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/hmac.h>
#include <openssl/rand.h>

#include <cctype>
#include <ctime>
#include <mutex>

#include "mgt/admin/policy_state.h"
#include "mgt/common/helpers.h"
#include "mgt/common/module.h"
#include "mgt/common/pattern.h"
#include "platform/ado/connection.h"
#include "platform/com/error.h"

namespace tivel::mgt::second_factor {
namespace {

const char* const kAlphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZ234567";
constexpr int64_t kStepSeconds = 30;

// The user's value row that holds the last step a code was accepted for. It
// has no definition, so it is never a policy attribute's value.
const char* const kLastStep = "PwdTwoStep";
// Security attribute numbers: the factor's switch and its secret.
const char* const kIsPwdTwo = "5";
const char* const kPwdTwo = "6";

std::mutex clockMutex;
std::function<int64_t()> testClock;

}  // namespace

std::optional<std::string> decodeBase32(std::string_view text) {
  std::string out;
  uint32_t buffer = 0;
  int bits = 0;
  bool padding = false;
  for (char ch : text) {
    if (ch == ' ' || ch == '\t') continue;
    if (ch == '=') {
      padding = true;
      continue;
    }
    if (padding) return std::nullopt;  // nothing but padding after padding
    const char* at =
        std::char_traits<char>::find(kAlphabet, 32, static_cast<char>(std::toupper(static_cast<unsigned char>(ch))));
    if (!at) return std::nullopt;
    buffer = (buffer << 5) | static_cast<uint32_t>(at - kAlphabet);
    bits += 5;
    if (bits >= 8) {
      bits -= 8;
      out += static_cast<char>((buffer >> bits) & 0xff);
    }
  }
  if (out.empty()) return std::nullopt;
  return out;
}

std::string encodeBase32(std::string_view bytes) {
  std::string out;
  uint32_t buffer = 0;
  int bits = 0;
  for (char ch : bytes) {
    buffer = (buffer << 8) | static_cast<unsigned char>(ch);
    bits += 8;
    while (bits >= 5) {
      bits -= 5;
      out += kAlphabet[(buffer >> bits) & 31];
    }
  }
  if (bits > 0) out += kAlphabet[(buffer << (5 - bits)) & 31];
  return out;
}

std::string newSecret() {
  unsigned char bytes[20];
  if (RAND_bytes(bytes, sizeof bytes) != 1)
    com::raise(com::kObjectError, "TivelMgt.second_factor", "no random bytes for a new secret");
  return encodeBase32(std::string_view(reinterpret_cast<const char*>(bytes), sizeof bytes));
}

std::string codeAt(std::string_view secret, int64_t step) {
  unsigned char counter[8];
  for (int i = 7; i >= 0; --i, step >>= 8) counter[i] = static_cast<unsigned char>(step & 0xff);
  unsigned char mac[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  if (!HMAC(EVP_sha1(), secret.data(), static_cast<int>(secret.size()), counter, sizeof counter, mac, &length) ||
      length < 20)
    com::raise(com::kObjectError, "TivelMgt.second_factor", "HMAC-SHA-1 failed");
  // Dynamic truncation: four bytes at the offset the last nibble names.
  int offset = mac[length - 1] & 0x0f;
  uint32_t value = (static_cast<uint32_t>(mac[offset] & 0x7f) << 24) | (static_cast<uint32_t>(mac[offset + 1]) << 16) |
                   (static_cast<uint32_t>(mac[offset + 2]) << 8) | mac[offset + 3];
  char digits[8];
  std::snprintf(digits, sizeof digits, "%06u", value % 1000000);
  return digits;
}

std::optional<int64_t> matchingStep(std::string_view secret, std::string_view code, int64_t unixTime) {
  if (code.size() != 6) return std::nullopt;
  for (char c : code)
    if (c < '0' || c > '9') return std::nullopt;
  const int64_t current = unixTime / kStepSeconds;
  std::optional<int64_t> found;
  // Every candidate is compared, in constant time, so the answer's timing
  // says nothing about which step or digits came close.
  for (int64_t step = current - 1; step <= current + 1; ++step) {
    std::string expected = codeAt(secret, step);
    if (CRYPTO_memcmp(expected.data(), code.data(), 6) == 0 && !found) found = step;
  }
  return found;
}

int64_t now() {
  {
    std::lock_guard<std::mutex> lock(clockMutex);
    if (testClock) return testClock();
  }
  return static_cast<int64_t>(std::time(nullptr));
}

void setClockForTesting(std::function<int64_t()> clock) {
  std::lock_guard<std::mutex> lock(clockMutex);
  testClock = std::move(clock);
}

bool takeStep(const std::string& usrNo, int64_t step) {
  bool taken = false;
  const std::string row = std::string(" where usa_no='") + kLastStep + "' and usr_no='" + QuoteSql(usrNo) + "'";
  // Uses of one user's codes take turns, so only one of them can create the
  // missing row or move the step on.
  policy::inUsersTurn(usrNo, [&] {
    long affected = 0;
    sharedConnection()->execute("update umUsrSecInst set Usi_Value='" + std::to_string(step) + "'" + row +
                                    " and CAST(COALESCE(NULLIF(Usi_Value,''),'0') AS BIGINT)<" + std::to_string(step),
                                &affected);
    if (affected > 0) {
      taken = true;
      return;
    }
    auto rs = openRead("select Usi_Value from umUsrSecInst" + row);
    bool exists = rs->recordCount() > 0;
    rs->close();
    if (!exists) {
      policy::setUserValue(kLastStep, usrNo, std::to_string(step));
      taken = true;
    }
  });
  return taken;
}

std::string enroll(const std::string& usrNo) {
  std::string secret = newSecret();
  policy::setUserValue(kPwdTwo, usrNo, secret);
  policy::setUserValue(kIsPwdTwo, usrNo, "1");
  return secret;
}

void disable(const std::string& usrNo) {
  policy::setUserValue(kIsPwdTwo, usrNo, "0");
  execute(std::string("delete from umUsrSecInst where usa_no='") + kPwdTwo + "' and usr_no='" + QuoteSql(usrNo) + "'");
}

std::string provisioningUri(const std::string& issuer, const std::string& account, const std::string& secret) {
  auto encode = [](const std::string& s) {
    std::string out;
    for (unsigned char c : s) {
      if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' || c == '.' ||
          c == '_' || c == '~') {
        out += static_cast<char>(c);
      } else {
        char hex[4];
        std::snprintf(hex, sizeof hex, "%%%02X", c);
        out += hex;
      }
    }
    return out;
  };
  return "otpauth://totp/" + encode(issuer) + ":" + encode(account) + "?secret=" + secret +
         "&issuer=" + encode(issuer) + "&algorithm=SHA1&digits=6&period=30";
}

}  // namespace tivel::mgt::second_factor
