#include "platform/Path.h"

#include <unistd.h>

#include <climits>
#include <string>

#include "platform/Text.h"

namespace platform {

wchar_t PathSeparator() {
    return L'/';
}

std::wstring ExecutableFileName(std::wstring_view baseName) {
    return std::wstring(baseName);
}

std::wstring ModuleFilePath() {
    std::string buffer(PATH_MAX, '\0');
    ssize_t n = ::readlink("/proc/self/exe", buffer.data(), buffer.size());
    if (n <= 0) {
        return {};
    }
    buffer.resize(static_cast<std::size_t>(n));
    return LocaleToWide(buffer);
}

}  // namespace platform
