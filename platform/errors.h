// The Windows error codes the platform functions answer with.
#pragma once
#include <cstdint>

namespace vantel::platform {

constexpr int32_t kErrorSuccess = 0;
constexpr int32_t kErrorFileNotFound = 2;
constexpr int32_t kErrorPathNotFound = 3;
constexpr int32_t kErrorAccessDenied = 5;
constexpr int32_t kErrorInvalidHandle = 6;
constexpr int32_t kErrorInvalidData = 13;
constexpr int32_t kErrorOutOfMemory = 14;
constexpr int32_t kErrorBadNetPath = 53;
constexpr int32_t kErrorInvalidParameter = 87;
constexpr int32_t kErrorDiskFull = 112;
constexpr int32_t kErrorCallNotImplemented = 120;
constexpr int32_t kErrorInsufficientBuffer = 122;
constexpr int32_t kErrorModNotFound = 126;
constexpr int32_t kErrorProcNotFound = 127;
constexpr int32_t kErrorAlreadyExists = 183;
constexpr int32_t kErrorMoreData = 234;
constexpr int32_t kErrorNoToken = 1008;
constexpr int32_t kErrorServiceDoesNotExist = 1060;
constexpr int32_t kErrorNoneMapped = 1332;
constexpr int32_t kErrorInvalidSid = 1337;
constexpr int32_t kErrorInternalError = 1359;
constexpr int32_t kErrorResourceTypeNotFound = 1813;
constexpr int32_t kNerrUserNotFound = 2221;

}  // namespace vantel::platform
