#include "platform/Text.h"

#include <algorithm>
#include <cctype>
#include <clocale>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <cwchar>
#include <limits>
#include <mutex>
#include <string>

#include "platform/win32/WindowsHeaders.h"

namespace platform {
namespace {

// The conversion functions take int lengths: longer texts are converted in pieces. A piece never
// ends between the two halves of a surrogate pair, nor (for multibyte input) inside a character.
constexpr std::size_t kMaxPiece = static_cast<std::size_t>(std::numeric_limits<int>::max() / 4);

bool IsHighSurrogate(wchar_t c) {
    return c >= 0xD800 && c <= 0xDBFF;
}

bool IsLowSurrogate(wchar_t c) {
    return c >= 0xDC00 && c <= 0xDFFF;
}

// WideCharToMultiByte for one piece. `defaultChar` and `usedDefault` only for code pages that
// allow them (not UTF-8).
void AppendMultiByte(UINT codePage, DWORD flags, std::wstring_view text, bool allowDefault,
                     std::string* out, bool* usedDefault) {
    if (text.empty()) {
        return;
    }
    BOOL used = FALSE;
    BOOL* usedPtr = allowDefault ? &used : nullptr;
    int length = static_cast<int>(text.size());
    int needed =
        ::WideCharToMultiByte(codePage, flags, text.data(), length, nullptr, 0, nullptr, usedPtr);
    if (needed <= 0) {
        return;
    }
    std::size_t start = out->size();
    out->resize(start + static_cast<std::size_t>(needed));
    int written = ::WideCharToMultiByte(codePage, flags, text.data(), length, out->data() + start,
                                        needed, nullptr, usedPtr);
    out->resize(start + static_cast<std::size_t>(written > 0 ? written : 0));
    if (used && usedDefault != nullptr) {
        *usedDefault = true;
    }
}

void AppendWide(UINT codePage, std::string_view bytes, std::wstring* out) {
    if (bytes.empty()) {
        return;
    }
    int length = static_cast<int>(bytes.size());
    int needed = ::MultiByteToWideChar(codePage, 0, bytes.data(), length, nullptr, 0);
    if (needed <= 0) {
        return;
    }
    std::size_t start = out->size();
    out->resize(start + static_cast<std::size_t>(needed));
    int written =
        ::MultiByteToWideChar(codePage, 0, bytes.data(), length, out->data() + start, needed);
    out->resize(start + static_cast<std::size_t>(written > 0 ? written : 0));
}

// The code page's default character, which stands for what it cannot represent ("?" for 932).
std::string DefaultCharacter(UINT codePage) {
    CPINFO info{};
    if (::GetCPInfo(codePage, &info) == 0 || info.DefaultChar[0] == 0) {
        return "?";
    }
    return info.DefaultChar[1] != 0
               ? std::string(reinterpret_cast<const char*>(info.DefaultChar), 2)
               : std::string(1, static_cast<char>(info.DefaultChar[0]));
}

std::string FromWide(UINT codePage, std::wstring_view text, bool* usedDefault) {
    std::string out;
    const bool utf8 = codePage == CP_UTF8;
    while (!text.empty()) {
        std::size_t n = std::min(text.size(), kMaxPiece);
        if (n < text.size() && IsHighSurrogate(text[n - 1])) {
            --n;
        }
        std::wstring_view piece = text.substr(0, n);
        text.remove_prefix(n);
        if (utf8) {
            // UTF-8 has no default character: an unpaired surrogate becomes U+FFFD. Ask strictly
            // first, so that the caller learns of the replacement.
            if (usedDefault != nullptr &&
                ::WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, piece.data(),
                                      static_cast<int>(piece.size()), nullptr, 0, nullptr,
                                      nullptr) == 0) {
                *usedDefault = true;
            }
            AppendMultiByte(CP_UTF8, 0, piece, false, &out, nullptr);
            continue;
        }
        // A character outside the code page becomes the code page's default character. A
        // surrogate pair is one character: it gives one default character, not two.
        std::size_t begin = 0;
        for (std::size_t i = 0; i < piece.size(); ++i) {
            if (IsHighSurrogate(piece[i]) && i + 1 < piece.size() && IsLowSurrogate(piece[i + 1])) {
                AppendMultiByte(codePage, WC_NO_BEST_FIT_CHARS, piece.substr(begin, i - begin),
                                true, &out, usedDefault);
                out.append(DefaultCharacter(codePage));
                if (usedDefault != nullptr) {
                    *usedDefault = true;
                }
                ++i;
                begin = i + 1;
            }
        }
        AppendMultiByte(codePage, WC_NO_BEST_FIT_CHARS, piece.substr(begin), true, &out,
                        usedDefault);
    }
    return out;
}

std::wstring ToWide(UINT codePage, std::string_view bytes) {
    std::wstring out;
    while (!bytes.empty()) {
        std::size_t n = std::min(bytes.size(), kMaxPiece);
        if (n < bytes.size()) {
            // Cut after a line feed, which is never part of a multibyte character.
            std::size_t lf = bytes.substr(0, n).rfind('\n');
            if (lf != std::string_view::npos) {
                n = lf + 1;
            }
        }
        AppendWide(codePage, bytes.substr(0, n), &out);
        bytes.remove_prefix(n);
    }
    return out;
}

// A code page that SetProcessLocale named and the C run time cannot take (UTF-8), with the name it
// was given; 0 when the run time's own locale stands.
struct LocaleOverride {
    std::mutex mutex;
    UINT codePage = 0;
    std::string name;
};

LocaleOverride& Override() {
    static LocaleOverride state;
    return state;
}

void SetOverride(UINT codePage, const std::string& name) {
    std::lock_guard<std::mutex> lock(Override().mutex);
    Override().codePage = codePage;
    Override().name = name;
}

bool EqualsIgnoringCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) ==
                      std::tolower(static_cast<unsigned char>(y));
           });
}

// The code page of the C run-time library's current locale ("Japanese_Japan.932" gives 932).
// The "C" locale has none of its own: the system's ANSI code page stands for it.
UINT LocaleCodePage() {
    {
        std::lock_guard<std::mutex> lock(Override().mutex);
        if (Override().codePage != 0) {
            return Override().codePage;
        }
    }
    const char* name = std::setlocale(LC_CTYPE, nullptr);
    if (name != nullptr) {
        const char* dot = std::strrchr(name, '.');
        if (dot != nullptr) {
            std::string codeset(dot + 1);
            if (_stricmp(codeset.c_str(), "utf8") == 0 || _stricmp(codeset.c_str(), "utf-8") == 0) {
                return CP_UTF8;
            }
            char* end = nullptr;
            unsigned long number = std::strtoul(codeset.c_str(), &end, 10);
            if (end != codeset.c_str() && *end == '\0' && number > 0 && number < 65536) {
                return static_cast<UINT>(number);
            }
        }
    }
    return ::GetACP();
}

std::wstring LocaleField(LCID lcid, LCTYPE type, int capacity) {
    std::wstring buffer(static_cast<std::size_t>(capacity), L'\0');
    int n = ::GetLocaleInfoW(lcid, type, buffer.data(), capacity);
    buffer.resize(n > 0 ? static_cast<std::size_t>(n - 1) : 0);
    return buffer;
}

}  // namespace

std::string WideToUtf8(std::wstring_view text) {
    return FromWide(CP_UTF8, text, nullptr);
}

std::wstring Utf8ToWide(std::string_view text) {
    return ToWide(CP_UTF8, text);
}

std::string WideToCodePage(unsigned codePage, std::wstring_view text, bool* usedDefault) {
    if (usedDefault != nullptr) {
        *usedDefault = false;
    }
    return FromWide(codePage, text, usedDefault);
}

std::wstring CodePageToWide(unsigned codePage, std::string_view bytes) {
    return ToWide(codePage, bytes);
}

void InitProcessLocale() {
    // The system default locale, named as the run-time library knows it: English language name,
    // "_", English country name, ".", default ANSI code page ("Japanese_Japan.932").
    LCID lcid = ::GetSystemDefaultLCID();
    std::wstring name = LocaleField(lcid, LOCALE_SENGLANGUAGE, 128) + L"_" +
                        LocaleField(lcid, LOCALE_SENGCOUNTRY, 128) + L"." +
                        LocaleField(lcid, LOCALE_IDEFAULTANSICODEPAGE, 6);
    SetOverride(0, {});
    if (::_wsetlocale(LC_ALL, name.c_str()) == nullptr) {
        // The run-time library does not know that name: the system's ANSI code page at least.
        ::_wsetlocale(LC_ALL, L"");
    }
    ::_tzset();
    ::SetThreadLocale(lcid);
}

bool SetProcessLocale(const std::string& name) {
    // POSIX names: language_COUNTRY.codeset. The run time knows languages by their English names.
    std::string language = name.substr(0, name.find('.'));
    std::string codeset =
        name.find('.') == std::string::npos ? "" : name.substr(name.find('.') + 1);
    std::string runTimeName = name;
    UINT codePage = 0;
    if (language == "ja_JP") {
        runTimeName = "Japanese_Japan.932";
    } else if (language == "C" || language == "POSIX") {
        runTimeName = "C";
    }
    if (EqualsIgnoringCase(codeset, "UTF-8") || EqualsIgnoringCase(codeset, "utf8")) {
        codePage = CP_UTF8;
    } else if (EqualsIgnoringCase(codeset, "SJIS") || EqualsIgnoringCase(codeset, "Shift_JIS")) {
        runTimeName = "Japanese_Japan.932";
    }
    if (std::setlocale(LC_ALL, runTimeName.c_str()) == nullptr) {
        return false;
    }
    SetOverride(codePage, name);
    return true;
}

std::string ProcessLocaleName() {
    {
        std::lock_guard<std::mutex> lock(Override().mutex);
        if (Override().codePage != 0) {
            return Override().name;
        }
    }
    const char* name = std::setlocale(LC_ALL, nullptr);
    return name != nullptr ? name : "C";
}

std::string WideToLocale(std::wstring_view text) {
    return FromWide(LocaleCodePage(), text, nullptr);
}

std::wstring LocaleToWide(std::string_view bytes) {
    return ToWide(LocaleCodePage(), bytes);
}

bool IsLocaleText(std::string_view bytes) {
    // Asked piece by piece (cut after a line feed, as ToWide cuts): MB_ERR_INVALID_CHARS makes
    // the conversion fail on a sequence the code page does not define.
    while (!bytes.empty()) {
        std::size_t n = std::min(bytes.size(), kMaxPiece);
        if (n < bytes.size()) {
            std::size_t lf = bytes.substr(0, n).rfind('\n');
            if (lf != std::string_view::npos) {
                n = lf + 1;
            }
        }
        if (::MultiByteToWideChar(LocaleCodePage(), MB_ERR_INVALID_CHARS, bytes.data(),
                                  static_cast<int>(n), nullptr, 0) <= 0) {
            return false;
        }
        bytes.remove_prefix(n);
    }
    return true;
}

}  // namespace platform
