#include "platform/com/error.h"

namespace tivel::com {

void raise(int32_t number, std::string source, std::string description) {
  throw ComError(number, std::move(source), std::move(description));
}

void raise(int32_t number, std::string source, std::string description, std::string detail) {
  throw ComError(number, std::move(source), std::move(description), std::move(detail));
}

std::string describe(const ComError& e) {
  return e.detail().empty() ? e.description() : e.description() + " " + e.detail();
}

std::string currentFailureDescription(const char* otherwise) {
  try {
    throw;
  } catch (const ComError& e) {
    return e.description();
  } catch (const std::exception& e) {
    return e.what();
  } catch (...) {
    return otherwise;
  }
}

}  // namespace tivel::com
