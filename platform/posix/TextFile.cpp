#include "platform/TextFile.h"

#include "platform/Text.h"

namespace platform {

// File names on POSIX are bytes; the system names them in the locale's encoding, as it does the
// contents of its text files.
std::filesystem::path NativePath(std::wstring_view path) {
    return std::filesystem::path(WideToLocale(path));
}

std::wstring WidePath(const std::filesystem::path& path) {
    return LocaleToWide(path.native());
}

}  // namespace platform
