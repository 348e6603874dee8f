// Error numbers the administration stand-ins fail with: the numbers the
// platform's own services give for the same faults.
#pragma once

#include <cstdint>

#include "platform/codes/result_codes.h"
#include "platform/com/error.h"

namespace tivel::setup {

using codes::kAlreadyExists;     // ERROR_ALREADY_EXISTS
using codes::kBadPathname;       // E_ADS_BAD_PATHNAME
using codes::kFail;              // E_FAIL
using codes::kFileNotFound;      // ERROR_FILE_NOT_FOUND
using codes::kInvalidData;       // ERROR_INVALID_DATA
using codes::kMemberInGroup;     // ERROR_MEMBER_IN_ALIAS
using codes::kNotFound;          // ERROR_NOT_FOUND
using codes::kPropertyNotFound;  // E_ADS_PROPERTY_NOT_FOUND
// The two the object runtime names too.
inline constexpr int32_t kNotSupported = com::kNotImplemented;  // E_NOTIMPL
inline constexpr int32_t kInvalidArg = com::kInvalidArgument;   // E_INVALIDARG

}  // namespace tivel::setup
