// Result codes shared by every platform implementation. The system was designed against the
// Win32 interfaces, so the portable layer speaks Win32 error numbers and HRESULTs on every
// platform.
#pragma once

#include <cstdint>

namespace platform {

inline constexpr std::uint32_t kErrorSuccess = 0;
inline constexpr std::uint32_t kErrorFileNotFound = 2;
inline constexpr std::uint32_t kErrorPathNotFound = 3;
inline constexpr std::uint32_t kErrorAccessDenied = 5;
inline constexpr std::uint32_t kErrorInvalidHandle = 6;
inline constexpr std::uint32_t kErrorNotEnoughMemory = 8;
inline constexpr std::uint32_t kErrorInvalidData = 13;
inline constexpr std::uint32_t kErrorWriteFault = 29;
inline constexpr std::uint32_t kErrorInvalidParameter = 87;
inline constexpr std::uint32_t kErrorAlreadyExists = 183;
inline constexpr std::uint32_t kErrorMoreData = 234;
inline constexpr std::uint32_t kErrorNoMoreItems = 259;
inline constexpr std::uint32_t kWaitTimeout = 258;
inline constexpr std::uint32_t kErrorBadConfiguration = 1610;
inline constexpr std::uint32_t kErrorServiceDoesNotExist = 1060;
inline constexpr std::uint32_t kErrorServiceExists = 1073;
inline constexpr std::uint32_t kErrorFailedServiceControllerConnect = 1063;
inline constexpr std::uint32_t kErrorRegistryCorrupt = 1015;

inline constexpr std::uint32_t kEFail = 0x80004005u;
inline constexpr std::uint32_t kEInvalidArg = 0x80070057u;

// HRESULT form of a Win32 error: 0x8007 in the upper half, the error number in the lower.
constexpr std::uint32_t HResultFromWin32(std::uint32_t error) {
    return error == 0 ? 0u : (0x80070000u | (error & 0xFFFFu));
}

}  // namespace platform
