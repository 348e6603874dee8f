// What a scope with secrets=withheld keeps from its caller: users' stored
// passwords (Pwd), second-factor secrets (PwdTwo) and directory passwords
// (LdapPwd), as record properties, as columns or rows of dumped answers, and
// as security values read by name.
#pragma once

#include <string_view>

#include "platform/com/object.h"
#include "tools/tivel/rpc/json_value.h"

namespace tivel::tool {

// Whether reading or writing `member` of `object` would reach a secret: a
// record's Pwd, PwdTwo or LdapPwd, or the value of a security value record
// of attribute 6 (PwdTwo) or 13 (LdapPwd).
bool reachesSecret(const com::Object& object, std::string_view member);

// Empties (null) every secret in the answer to `request`: members named as
// above at any depth, the values of security rows of attributes 6 and 13,
// and getUsrSecValue's answer for PwdTwo or LdapPwd.
void withholdSecrets(const Json& request, Json& answer);

}  // namespace tivel::tool
