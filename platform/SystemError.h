// The operating system's error numbers and their texts.
#pragma once

#include <cstdint>
#include <string>

namespace platform {

// The calling thread's last system error (GetLastError / errno).
std::uint32_t LastSystemError();

// The system's text for an error number (FormatMessageW from the system table, language neutral;
// strerror on POSIX), without a trailing line end; empty text when the system has none.
std::wstring SystemErrorText(std::uint32_t code);

}  // namespace platform
