#pragma once

#include <cstdint>

// Windows error numbers. The seam reports these on every platform so that
// logs and callers read the same whatever system runs underneath.
namespace platform::winerror {

constexpr std::uint32_t kSuccess = 0;
constexpr std::uint32_t kInvalidFunction = 1;
constexpr std::uint32_t kFileNotFound = 2;
constexpr std::uint32_t kPathNotFound = 3;
constexpr std::uint32_t kAccessDenied = 5;
constexpr std::uint32_t kInvalidHandle = 6;
constexpr std::uint32_t kGenFailure = 31;
constexpr std::uint32_t kNotSupported = 50;
constexpr std::uint32_t kInvalidParameter = 87;
constexpr std::uint32_t kBrokenPipe = 109;
constexpr std::uint32_t kSemTimeout = 121;
constexpr std::uint32_t kInsufficientBuffer = 122;
constexpr std::uint32_t kInvalidName = 123;
constexpr std::uint32_t kAlreadyExists = 183;
constexpr std::uint32_t kFilenameTooLong = 206;
constexpr std::uint32_t kNoData = 232;
constexpr std::uint32_t kPipeNotConnected = 233;
constexpr std::uint32_t kMoreData = 234;
constexpr std::uint32_t kPipeConnected = 535;
constexpr std::uint32_t kOperationAborted = 995;
constexpr std::uint32_t kDeviceNotConnected = 1167;

} // namespace platform::winerror
