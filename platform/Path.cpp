// Path joining shared by every platform: only the separator differs.
#include "platform/Path.h"

namespace platform {
namespace {

bool IsSeparator(wchar_t c) {
    return c == PathSeparator() || c == L'/';
}

}  // namespace

std::wstring NativeRelativePath(std::wstring_view relative) {
    std::wstring out(relative);
    for (wchar_t& c : out) {
        if (c == L'\\') {
            c = PathSeparator();
        }
    }
    return out;
}

std::wstring AppendPath(std::wstring_view base, std::wstring_view more) {
    while (!more.empty() && IsSeparator(more.front())) {
        more.remove_prefix(1);
    }
    std::wstring out(base);
    if (more.empty()) {
        return out;
    }
    if (out.empty()) {
        return std::wstring(more);
    }
    // Trailing separators of the base are folded into one, but a base that is only a root stays.
    std::size_t end = out.size();
    while (end > 1 && IsSeparator(out[end - 1])) {
        --end;
    }
    out.resize(end);
    if (!IsSeparator(out.back())) {
        out.push_back(PathSeparator());
    }
    out.append(more);
    return out;
}

}  // namespace platform
