#include "platform/TextFile.h"

namespace platform {

// File names on Windows are UTF-16, as the programs' own texts are.
std::filesystem::path NativePath(std::wstring_view path) {
    return std::filesystem::path(std::wstring(path));
}

std::wstring WidePath(const std::filesystem::path& path) {
    return path.wstring();
}

}  // namespace platform
