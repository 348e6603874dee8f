#include "mgt/admin/login_record.h"

#include <utility>

namespace tivel::mgt {
namespace {

thread_local std::string lastToken;

}  // namespace

void noteLoginToken(std::string token) { lastToken = std::move(token); }

std::string takeLoginToken() { return std::exchange(lastToken, std::string()); }

}  // namespace tivel::mgt
