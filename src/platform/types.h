// Basic types shared by every interface of the platform seam.
#pragma once

#include <cstddef>
#include <cstdint>

namespace platform {

// A Windows error code, as GetLastError reports it; 0 means success. The host and fake
// implementations report the Windows code that the same failure has on Windows, because the
// system's messages print these codes.
using ErrorCode = uint32_t;

namespace error {
constexpr ErrorCode kSuccess = 0;
constexpr ErrorCode kFileNotFound = 2;
constexpr ErrorCode kPathNotFound = 3;
constexpr ErrorCode kAccessDenied = 5;
constexpr ErrorCode kInvalidHandle = 6;
constexpr ErrorCode kNotEnoughMemory = 8;
constexpr ErrorCode kGenFailure = 31;
constexpr ErrorCode kHandleEof = 38;
constexpr ErrorCode kInvalidParameter = 87;
constexpr ErrorCode kBrokenPipe = 109;
constexpr ErrorCode kInsufficientBuffer = 122;
constexpr ErrorCode kAlreadyExists = 183;
constexpr ErrorCode kFilenameExcedRange = 206;
constexpr ErrorCode kMoreData = 234;
constexpr ErrorCode kNoMoreItems = 259;
constexpr ErrorCode kMrMidNotFound = 317;
constexpr ErrorCode kOperationAborted = 995;
constexpr ErrorCode kIoPending = 997;
constexpr ErrorCode kNotFound = 1168;
}  // namespace error

// The "no time limit" value of every wait (INFINITE).
constexpr uint32_t kInfinite = 0xFFFFFFFFu;

// Characters in a path buffer, terminator included (MAX_PATH).
constexpr size_t kMaxPath = 260;

}  // namespace platform
