#include "platform/Resources.h"

#include <string>

#include "platform/win32/WindowsHeaders.h"

namespace platform {
namespace {

// The texts are resources of the program itself (the string table and the message table are
// linked into every executable).
HMODULE ProgramModule() {
    return ::GetModuleHandleW(nullptr);
}

std::optional<std::wstring> MessageText(std::uint32_t id, std::uint16_t language) {
    wchar_t* buffer = nullptr;
    DWORD n = ::FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_HMODULE |
                                   FORMAT_MESSAGE_IGNORE_INSERTS,
                               ProgramModule(), id, language, reinterpret_cast<wchar_t*>(&buffer),
                               0, nullptr);
    if (n == 0 || buffer == nullptr) {
        return std::nullopt;
    }
    std::wstring text(buffer, n);
    ::LocalFree(buffer);
    return text;
}

}  // namespace

std::wstring LoadStringResource(std::uint32_t id) {
    // With a zero buffer size LoadStringW gives the resource's own read-only text and its length.
    const wchar_t* text = nullptr;
    int n = ::LoadStringW(ProgramModule(), id, reinterpret_cast<wchar_t*>(&text), 0);
    if (n <= 0 || text == nullptr) {
        return {};
    }
    return std::wstring(text, static_cast<std::size_t>(n));
}

std::optional<std::wstring> LoadMessageResource(std::uint32_t id, std::uint16_t language) {
    std::optional<std::wstring> text = MessageText(id, language);
    if (!text && language != kLangEnglish) {
        text = MessageText(id, kLangEnglish);
    }
    return text;
}

std::uint16_t ProcessMessageLanguage() {
    LANGID language = LANGIDFROMLCID(::GetThreadLocale());
    return PRIMARYLANGID(language) == LANG_JAPANESE ? kLangJapanese : kLangEnglish;
}

}  // namespace platform
