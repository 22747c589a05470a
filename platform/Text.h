// Text conversions and the process locale.
//
// Inside the programs every text is std::wstring. Length limits of the system count UTF-16 code
// units, which on POSIX (32-bit wchar_t) are not the number of wchar_t: use Utf16Length.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace platform {

inline constexpr unsigned kCodePage932 = 932;
inline constexpr unsigned kCodePageUtf8 = 65001;

// Number of UTF-16 code units of `text` (a character above U+FFFF counts two).
constexpr std::size_t Utf16Length(std::wstring_view text) {
    if constexpr (sizeof(wchar_t) == 2) {
        return text.size();
    } else {
        std::size_t n = 0;
        for (wchar_t c : text) {
            n += (static_cast<std::uint32_t>(c) >> 16) != 0 ? 2 : 1;
        }
        return n;
    }
}

// UTF-8 <-> wide. Malformed input becomes U+FFFD; never throws.
std::string WideToUtf8(std::wstring_view text);
std::wstring Utf8ToWide(std::string_view text);

// Wide text <-> UTF-16LE bytes, the form in which the registry stores strings. No terminator is
// added or expected. An odd last byte is ignored; an unpaired surrogate becomes U+FFFD (on a
// platform whose wchar_t holds UTF-16 the units are copied as they are).
std::vector<std::uint8_t> WideToUtf16Le(std::wstring_view text);
std::wstring Utf16LeToWide(const std::uint8_t* data, std::size_t size);

// Wide <-> a Windows code page (932 or 65001), as WideCharToMultiByte and MultiByteToWideChar do:
// a character the code page cannot represent becomes its default character ("?" for 932) and
// sets *usedDefault; bytes that are not valid in the code page become U+30FB (932) or U+FFFD.
std::string WideToCodePage(unsigned codePage, std::wstring_view text, bool* usedDefault = nullptr);
std::wstring CodePageToWide(unsigned codePage, std::string_view bytes);

// Sets the C and C++ global locales from the environment (POSIX) or from the system default
// locale (Windows), so that text files are read and written in the locale's encoding. Call once
// at program start, before any other thread exists.
void InitProcessLocale();

// Makes the locale `name` ("C.UTF-8", "ja_JP.SJIS") the process's C and C++ global locale, for
// tests and tools that read and write text files in a chosen encoding; the programs themselves use
// InitProcessLocale. False, changing nothing, when the system lacks the locale. Windows takes a
// POSIX name by its code page ("*.UTF-8" 65001, "*.SJIS" 932): its C run time has no UTF-8 locale,
// so the conversions below follow the named code page themselves.
bool SetProcessLocale(const std::string& name);
// The current locale's name, as SetProcessLocale takes it back.
std::string ProcessLocaleName();

// Wide <-> the encoding of the current C locale (what text files use).
std::string WideToLocale(std::wstring_view text);
std::wstring LocaleToWide(std::string_view bytes);
// Whether `bytes` are well-formed text in the encoding of the current C locale, so that
// LocaleToWide gives them without a replacement character.
bool IsLocaleText(std::string_view bytes);

}  // namespace platform
