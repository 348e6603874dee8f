// The result codes and error numbers of the components by name, and their
// texts, from the one table result_codes.def.
#pragma once

#include <cstdint>
#include <string_view>

namespace tivel::codes {

// A login result code: "0", "10001" ... (what loginByPwd and usrIsAvail answer).
#define TIVEL_LOGIN_CODE(name, code, zh, en, text) inline constexpr const char name[] = code;
// A management operation's result code ("10021001" ...).
#define TIVEL_RESULT_CODE(name, code, zh, en, text) inline constexpr const char name[] = code;
// An error number a call fails with, and its description (zh-CN; "" when it has none).
#define TIVEL_ERROR_NUMBER(name, number, zh, en)                     \
  inline constexpr int32_t name = static_cast<int32_t>(number); \
  inline constexpr const char name##Text[] = zh;
#include "platform/codes/result_codes.def"

// What `tivel login` prints for a login result code; "unknown code" for another.
std::string_view loginMeaning(std::string_view code);
// What the `tivel` commands print for a management result code; "" for a code without a text.
std::string_view commandText(std::string_view code);

}  // namespace tivel::codes
