#include "platform/codes/result_codes.h"

namespace tivel::codes {
namespace {

struct Text {
  std::string_view code, text;
};

constexpr Text kLoginTexts[] = {
#define TIVEL_LOGIN_CODE(name, code, zh, en, text) {code, text},
#include "platform/codes/result_codes.def"
};

// Codes named twice (a code two operations share) give their text once; the
// first entry with a text wins.
constexpr Text kResultTexts[] = {
#define TIVEL_RESULT_CODE(name, code, zh, en, text) {code, text},
#include "platform/codes/result_codes.def"
};

}  // namespace

std::string_view loginMeaning(std::string_view code) {
  for (const Text& t : kLoginTexts)
    if (t.code == code && !t.text.empty()) return t.text;
  return "unknown code";
}

std::string_view commandText(std::string_view code) {
  for (const Text& t : kResultTexts)
    if (t.code == code && !t.text.empty()) return t.text;
  return {};
}

}  // namespace tivel::codes
