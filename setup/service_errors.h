// Error numbers the administration stand-ins fail with: the numbers the
// platform's own services give for the same faults.
#pragma once

#include <cstdint>

#include "platform/com/error.h"

namespace tivel::setup {

inline constexpr int32_t kFail = static_cast<int32_t>(0x80004005);              // E_FAIL
inline constexpr int32_t kFileNotFound = static_cast<int32_t>(0x80070002);      // ERROR_FILE_NOT_FOUND
inline constexpr int32_t kInvalidData = static_cast<int32_t>(0x8007000D);       // ERROR_INVALID_DATA
inline constexpr int32_t kAlreadyExists = static_cast<int32_t>(0x800700B7);     // ERROR_ALREADY_EXISTS
inline constexpr int32_t kNotFound = static_cast<int32_t>(0x80070490);          // ERROR_NOT_FOUND
inline constexpr int32_t kMemberInGroup = static_cast<int32_t>(0x80070562);     // ERROR_MEMBER_IN_ALIAS
inline constexpr int32_t kBadPathname = static_cast<int32_t>(0x80005000);       // E_ADS_BAD_PATHNAME
inline constexpr int32_t kPropertyNotFound = static_cast<int32_t>(0x8000500D);  // E_ADS_PROPERTY_NOT_FOUND
// The two the object runtime names too.
inline constexpr int32_t kNotSupported = com::kNotImplemented;  // E_NOTIMPL
inline constexpr int32_t kInvalidArg = com::kInvalidArgument;   // E_INVALIDARG

}  // namespace tivel::setup
