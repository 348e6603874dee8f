// Call errors of the object runtime: a number, a source and a description,
// as a late-bound caller receives them.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>

namespace tivel::com {

// Well-known error numbers (signed 32-bit, as callers see them).
inline constexpr int32_t kUnknownName = static_cast<int32_t>(0x80020006);       // DISP_E_UNKNOWNNAME
inline constexpr int32_t kBadParamCount = static_cast<int32_t>(0x8002000E);     // DISP_E_BADPARAMCOUNT
inline constexpr int32_t kTypeMismatchArg = static_cast<int32_t>(0x80020005);   // DISP_E_TYPEMISMATCH
inline constexpr int32_t kParamNotOptional = static_cast<int32_t>(0x8002000F);  // DISP_E_PARAMNOTOPTIONAL
inline constexpr int32_t kWrongThread = static_cast<int32_t>(0x8001010E);       // RPC_E_WRONG_THREAD
inline constexpr int32_t kNotImplemented = static_cast<int32_t>(0x80004001);    // E_NOTIMPL
inline constexpr int32_t kInvalidClassString = static_cast<int32_t>(0x800401F3);
inline constexpr int32_t kInvalidArgument = static_cast<int32_t>(0x80070057);  // E_INVALIDARG
inline constexpr int32_t kAccessDenied = static_cast<int32_t>(0x80070005);     // E_ACCESSDENIED
inline constexpr int32_t kObjectError = static_cast<int32_t>(0x80040000);      // object-defined error base
// Run-time errors of the scripting rules the system relies on.
inline constexpr int32_t kTypeMismatch = static_cast<int32_t>(0x800A000D);          // 13
inline constexpr int32_t kInvalidUseOfNull = static_cast<int32_t>(0x800A005E);      // 94
inline constexpr int32_t kOverflow = static_cast<int32_t>(0x800A0006);              // 6
inline constexpr int32_t kSubscriptOutOfRange = static_cast<int32_t>(0x800A0009);   // 9
inline constexpr int32_t kObjectRequired = static_cast<int32_t>(0x800A01A8);        // 424
inline constexpr int32_t kKeyAlreadyAssociated = static_cast<int32_t>(0x800A01C9);  // 457
inline constexpr int32_t kInvalidProcedureCall = static_cast<int32_t>(0x800A0005);  // 5
inline constexpr int32_t kFileNotFound = static_cast<int32_t>(0x800A0035);          // 53
inline constexpr int32_t kObjectNotSet = static_cast<int32_t>(0x800A005B);          // 91
inline constexpr int32_t kDeviceIo = static_cast<int32_t>(0x800A0039);              // 57
// The description that goes with kObjectNotSet.
inline constexpr const char* kObjectNotSetText = "Object variable or With block variable not set";

// The description of the exception being handled (call it inside a catch
// block): a call error's description, another exception's what(), else otherwise.
std::string currentFailureDescription(const char* otherwise);

// A failed call. "Fail the call to the caller" means: throw one of these.
class ComError : public std::runtime_error {
 public:
  ComError(int32_t number, std::string source, std::string description, std::string detail = {})
      : std::runtime_error(description),
        number_(number),
        source_(std::move(source)),
        description_(std::move(description)),
        detail_(std::move(detail)) {}

  int32_t number() const { return number_; }
  const std::string& source() const { return source_; }
  // The system's own text, exactly as callers compare it.
  const std::string& description() const { return description_; }
  // Why, for the operator (a driver's message and SQLSTATE); empty when
  // there is nothing to add. Never part of description().
  const std::string& detail() const { return detail_; }

 private:
  int32_t number_;
  std::string source_;
  std::string description_;
  std::string detail_;
};

// Throws ComError(number, source, description).
[[noreturn]] void raise(int32_t number, std::string source, std::string description);
// Throws ComError(number, source, description, detail).
[[noreturn]] void raise(int32_t number, std::string source, std::string description, std::string detail);

// The description and, after one blank, the detail when there is one: what
// an operator reads (the command's errors, /health, the console).
std::string describe(const ComError& e);

}  // namespace tivel::com
