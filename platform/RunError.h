// The one exception type of the program: a run-time error with a signed
// 32-bit number and a description written for the shop operator.
// Procedures that trap errors catch it and turn it into their result or
// their error outputs; nothing lets it reach the window system's event loop.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>

namespace Platform {

// Classic runtime error numbers, used where one fits.
inline constexpr std::int32_t kErrOverflow = 6;
inline constexpr std::int32_t kErrTypeMismatch = 13;
inline constexpr std::int32_t kErrBadFileNameOrNumber = 52;
inline constexpr std::int32_t kErrFileNotFound = 53;
inline constexpr std::int32_t kErrInputPastEnd = 62;
inline constexpr std::int32_t kErrPermissionDenied = 70;
inline constexpr std::int32_t kErrPathFileAccess = 75;
inline constexpr std::int32_t kErrPathNotFound = 76;
inline constexpr std::int32_t kErrInvalidUseOfNull = 94;
inline constexpr std::int32_t kErrNoCurrentRecord = 3021;

class RunError : public std::runtime_error {
 public:
  RunError(std::int32_t number, const std::string& description)
      : std::runtime_error(description), number_(number) {}

  std::int32_t Number() const noexcept { return number_; }
  std::string Description() const { return what(); }

 private:
  std::int32_t number_;
};

}  // namespace Platform
