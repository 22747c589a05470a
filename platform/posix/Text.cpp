#include "platform/Text.h"

#include <iconv.h>
#include <langinfo.h>
#include <time.h>

#include <cerrno>
#include <clocale>
#include <cstring>
#include <deque>
#include <locale>
#include <memory>
#include <string_view>
#include <type_traits>
#include <utility>

namespace platform {
namespace {

// One iconv descriptor per (to, from) pair and thread: opening one costs far more than a short
// conversion, and a descriptor must not be used by two threads at once. A thread uses few pairs,
// so they are looked up in a short list, without building a key for every conversion.
class IconvCache {
  public:
    IconvCache() = default;
    IconvCache(const IconvCache&) = delete;
    IconvCache& operator=(const IconvCache&) = delete;
    ~IconvCache() {
        for (Entry& entry : m_descriptors) {
            if (entry.cd != reinterpret_cast<iconv_t>(-1)) {
                iconv_close(entry.cd);
            }
        }
    }

    iconv_t Get(std::string_view to, std::string_view from) {
        Entry* found = nullptr;
        for (Entry& entry : m_descriptors) {
            if (entry.to == to && entry.from == from) {
                found = &entry;
                break;
            }
        }
        if (found == nullptr) {
            std::string toName(to);
            std::string fromName(from);
            iconv_t cd = iconv_open(toName.c_str(), fromName.c_str());
            found = &m_descriptors.emplace_back(Entry{std::move(toName), std::move(fromName), cd});
        }
        if (found->cd != reinterpret_cast<iconv_t>(-1)) {
            iconv(found->cd, nullptr, nullptr, nullptr, nullptr);  // reset shift state
        }
        return found->cd;
    }

  private:
    struct Entry {
        std::string to;
        std::string from;
        iconv_t cd;
    };
    std::deque<Entry> m_descriptors;  // entries stay where they are as the list grows
};

IconvCache& Cache() {
    thread_local IconvCache cache;
    return cache;
}

const char* CodePageName(unsigned codePage) {
    return codePage == kCodePage932 ? "CP932" : "UTF-8";
}

// Converts `in` (units of `inUnit` bytes) with iconv. On an input sequence that cannot be converted
// the unit (or byte) is skipped and `replacement` (already in the target encoding) is written.
std::string Convert(iconv_t cd, const char* in, std::size_t inBytes, std::size_t inUnit,
                    std::string_view replacement, bool* replaced) {
    std::string out;
    if (cd == reinterpret_cast<iconv_t>(-1)) {
        return out;
    }
    out.resize(inBytes * 2 + 16);
    char* src = const_cast<char*>(in);
    std::size_t srcLeft = inBytes;
    std::size_t used = 0;
    while (true) {
        char* dst = out.data() + used;
        std::size_t dstLeft = out.size() - used;
        std::size_t rc = iconv(cd, srcLeft > 0 ? &src : nullptr, &srcLeft, &dst, &dstLeft);
        used = out.size() - dstLeft;
        if (rc != static_cast<std::size_t>(-1)) {
            if (srcLeft == 0) {
                break;
            }
            continue;
        }
        if (errno == E2BIG) {
            out.resize(out.size() * 2 + 16);
            continue;
        }
        // EILSEQ: a sequence that cannot be converted; EINVAL: a sequence cut short at the end.
        std::size_t skip = std::min(srcLeft, inUnit);
        src += skip;
        srcLeft -= skip;
        if (used + replacement.size() > out.size()) {
            out.resize(out.size() * 2 + replacement.size() + 16);
        }
        std::memcpy(out.data() + used, replacement.data(), replacement.size());
        used += replacement.size();
        if (replaced != nullptr) {
            *replaced = true;
        }
        iconv(cd, nullptr, nullptr, nullptr, nullptr);
        if (srcLeft == 0) {
            break;
        }
    }
    out.resize(used);
    return out;
}

// Code 0x00-0x7F is ASCII, unchanged, in UTF-8 and in code page 932 (glibc's CP932 keeps 0x5C
// and 0x7E, unlike its SHIFT_JIS): text of those codes alone needs no iconv, and most text the
// programs convert (trap texts, events) is such text.
bool KeepsAscii(std::string_view code) {
    return code == "UTF-8" || code == "CP932";
}

template <typename Unit>
bool IsAscii(const Unit* text, std::size_t length) {
    Unit any = 0;
    for (std::size_t i = 0; i < length; ++i) {
        any |= text[i];
    }
    return static_cast<std::make_unsigned_t<Unit>>(any) < 0x80;
}

std::wstring ToWide(std::string_view fromCode, std::string_view bytes, wchar_t replacement) {
    if (KeepsAscii(fromCode) && IsAscii(bytes.data(), bytes.size())) {
        return std::wstring(bytes.begin(), bytes.end());
    }
    iconv_t cd = Cache().Get("WCHAR_T", fromCode);
    std::string_view repl(reinterpret_cast<const char*>(&replacement), sizeof(wchar_t));
    std::string raw = Convert(cd, bytes.data(), bytes.size(), 1, repl, nullptr);
    std::wstring text(raw.size() / sizeof(wchar_t), L'\0');
    std::memcpy(text.data(), raw.data(), text.size() * sizeof(wchar_t));
    return text;
}

std::string FromWide(std::string_view toCode, std::wstring_view text, std::string_view repl,
                     bool* replaced) {
    if (KeepsAscii(toCode) && IsAscii(text.data(), text.size())) {
        return std::string(text.begin(), text.end());
    }
    iconv_t cd = Cache().Get(toCode, "WCHAR_T");
    return Convert(cd, reinterpret_cast<const char*>(text.data()), text.size() * sizeof(wchar_t),
                   sizeof(wchar_t), repl, replaced);
}

std::string LocaleCodeset() {
    const char* codeset = nl_langinfo(CODESET);
    if (codeset == nullptr || *codeset == '\0' || std::strcmp(codeset, "ANSI_X3.4-1968") == 0) {
        // The plain C locale: treat text as UTF-8 rather than losing every byte above 0x7F.
        return "UTF-8";
    }
    if (std::strcmp(codeset, "SHIFT_JIS") == 0 || std::strcmp(codeset, "SJIS") == 0) {
        // A Shift-JIS locale reads and writes code page 932, as the system's Japanese ANSI code
        // page does: glibc's SHIFT_JIS turns 0x5C into a yen sign and 0x7E into an overline,
        // which would take the backslashes and tildes out of settings lines and paths.
        return "CP932";
    }
    return codeset;
}

}  // namespace

std::string WideToUtf8(std::wstring_view text) {
    return FromWide("UTF-8", text, "\xEF\xBF\xBD", nullptr);
}

std::wstring Utf8ToWide(std::string_view text) {
    return ToWide("UTF-8", text, L'\uFFFD');
}

std::string WideToCodePage(unsigned codePage, std::wstring_view text, bool* usedDefault) {
    if (usedDefault != nullptr) {
        *usedDefault = false;
    }
    if (codePage == kCodePage932) {
        return FromWide(CodePageName(codePage), text, "?", usedDefault);
    }
    return FromWide(CodePageName(codePage), text, "\xEF\xBF\xBD", usedDefault);
}

std::wstring CodePageToWide(unsigned codePage, std::string_view bytes) {
    return ToWide(CodePageName(codePage), bytes, codePage == kCodePage932 ? L'\u30FB' : L'\uFFFD');
}

void InitProcessLocale() {
    try {
        std::locale::global(std::locale(""));
    } catch (const std::exception&) {
        // The environment names a locale this machine does not have: keep UTF-8 text.
        if (std::setlocale(LC_ALL, "C.UTF-8") != nullptr) {
            try {
                std::locale::global(std::locale("C.UTF-8"));
            } catch (const std::exception&) {
                std::locale::global(std::locale::classic());
            }
        }
    }
    tzset();
}

bool SetProcessLocale(const std::string& name) {
    try {
        std::locale::global(std::locale(name));
        return true;
    } catch (const std::exception&) {
        return false;
    }
}

std::string ProcessLocaleName() {
    return std::locale().name();
}

std::string WideToLocale(std::wstring_view text) {
    return FromWide(LocaleCodeset(), text, "?", nullptr);
}

std::wstring LocaleToWide(std::string_view bytes) {
    return ToWide(LocaleCodeset(), bytes, L'\uFFFD');
}

bool IsLocaleText(std::string_view bytes) {
    iconv_t cd = Cache().Get("WCHAR_T", LocaleCodeset());
    if (cd == reinterpret_cast<iconv_t>(-1)) {
        return false;
    }
    bool replaced = false;
    const std::string replacement(sizeof(wchar_t), '\0');
    Convert(cd, bytes.data(), bytes.size(), 1, replacement, &replaced);
    return !replaced;
}

}  // namespace platform
