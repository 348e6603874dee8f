// Data-access constants, numbered as ADO numbers them, and its error numbers.
#pragma once

#include <cstdint>

namespace tivel::ado {

enum CursorType : int32_t {
  adOpenUnspecified = -1,
  adOpenForwardOnly = 0,
  adOpenKeyset = 1,
  adOpenDynamic = 2,
  adOpenStatic = 3
};
enum LockType : int32_t {
  adLockUnspecified = -1,
  adLockReadOnly = 1,
  adLockPessimistic = 2,
  adLockOptimistic = 3,
  adLockBatchOptimistic = 4
};
enum ObjectState : int32_t { adStateClosed = 0, adStateOpen = 1 };
enum CursorLocation : int32_t { adUseServer = 2, adUseClient = 3 };

// Error numbers the data-access classes raise (signed 32-bit).
inline constexpr int32_t kProviderError =
    static_cast<int32_t>(0x80004005);  // engine/driver failure, engine message as description
inline constexpr int32_t kRowNotLocated = static_cast<int32_t>(0x80040E38);    // update criteria matched no row
inline constexpr int32_t kItemNotFound = static_cast<int32_t>(0x800A0CC1);     // 3265
inline constexpr int32_t kNoCurrentRecord = static_cast<int32_t>(0x800A0BCD);  // 3021
inline constexpr int32_t kNotUpdatable = static_cast<int32_t>(0x800A0CB3);     // 3251
inline constexpr int32_t kClosedObject = static_cast<int32_t>(0x800A0E78);     // 3704
inline constexpr int32_t kOpenObject = static_cast<int32_t>(0x800A0E79);       // 3705
inline constexpr int32_t kBadArguments = static_cast<int32_t>(0x800A0BB9);     // 3001
inline constexpr int32_t kOpenFailed = static_cast<int32_t>(0x80004005);       // connection could not be opened
inline constexpr int32_t kTimeoutExpired = static_cast<int32_t>(0x80040E31);   // statement interrupted (interrupt.h)

inline constexpr const char* kRowNotLocatedText =
    "Row cannot be located for updating. Some values may have been changed since it was last read.";

}  // namespace tivel::ado
