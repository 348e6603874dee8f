// The login record a login wrote, for the caller on the same thread that
// needs its token (the console makes its session of it).
#pragma once

#include <string>

namespace tivel::mgt {

// Notes the token of the login record the bookkeeping of a login on this
// thread just wrote ("" when it wrote none).
void noteLoginToken(std::string token);

// The token the latest login bookkeeping on this thread noted, cleared as
// it is taken: "" when no login was booked since the last take.
std::string takeLoginToken();

}  // namespace tivel::mgt
