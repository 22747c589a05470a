// The name of the local computer, as event records and logs name it.
#pragma once

#include <string>

namespace platform {

// The local computer's name (GetComputerNameW / the host name), or empty text when the system
// cannot tell.
std::wstring LocalComputerName();

}  // namespace platform
