// The second factor: time-based one-time codes (RFC 6238 with HMAC-SHA-1,
// six digits, 30-second steps), made from a secret kept base32-encoded as
// the user's PwdTwo security value, and the record of the last step a user's
// code was accepted for, so no code opens twice.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace tivel::mgt::second_factor {

// The secret's bytes from its base32 text (RFC 4648; letters in any case,
// blanks and trailing '=' ignored); nullopt when the text is no such secret.
std::optional<std::string> decodeBase32(std::string_view text);

// The bytes as base32 text without padding.
std::string encodeBase32(std::string_view bytes);

// A new random secret of 20 bytes, base32-encoded.
std::string newSecret();

// The six-digit code of the secret for the 30-second step `step` (Unix time / 30).
std::string codeAt(std::string_view secret, int64_t step);

// The step whose code `code` is, among the step of `unixTime` and one step
// either side; nullopt when none (or the code is not six digits).
std::optional<int64_t> matchingStep(std::string_view secret, std::string_view code, int64_t unixTime);

// Seconds since 1970 by the clock the codes are checked against: the
// system's, unless a test replaced it.
int64_t now();

// Test seam: replaces the clock (an empty function restores the system's).
void setClockForTesting(std::function<int64_t()> clock);

// Takes `step` for the user when it is later than the last step taken: true
// exactly once per step, even when several logins try at the same time (on
// either engine). Failures reach the caller.
bool takeStep(const std::string& usrNo, int64_t step);

// Gives the user a new secret (PwdTwo) and turns the factor on for them
// (IsPwdTwo "1"), both as the user's own values; answers the secret.
std::string enroll(const std::string& usrNo);

// Turns the factor off for the user (IsPwdTwo "0") and deletes their secret.
void disable(const std::string& usrNo);

// The otpauth:// address an authenticator app reads (issuer, account and the
// base32 secret).
std::string provisioningUri(const std::string& issuer, const std::string& account, const std::string& secret);

}  // namespace tivel::mgt::second_factor
