// Test helper: makes a named locale the global C and C++ locale for the life of the object and
// puts the previous one back afterwards. Construction throws std::runtime_error when the machine
// lacks the locale (tests GTEST_SKIP then).
#pragma once

#include <locale>
#include <stdexcept>
#include <string>

#include "platform/Text.h"

namespace test {

#ifdef _WIN32
// The C++ library of mingw-w64 knows only the "C" locale: the platform layer sets the C run time's
// locale and the code page of the text conversions instead.
class ScopedLocale {
  public:
    explicit ScopedLocale(const char* name) : m_previous(platform::ProcessLocaleName()) {
        if (!platform::SetProcessLocale(name)) {
            throw std::runtime_error(std::string("no locale ") + name);
        }
    }
    ~ScopedLocale() { platform::SetProcessLocale(m_previous); }
    ScopedLocale(const ScopedLocale&) = delete;
    ScopedLocale& operator=(const ScopedLocale&) = delete;

  private:
    std::string m_previous;
};
#else
class ScopedLocale {
  public:
    explicit ScopedLocale(const char* name) : m_previous(std::locale::global(std::locale(name))) {}
    ~ScopedLocale() { std::locale::global(m_previous); }
    ScopedLocale(const ScopedLocale&) = delete;
    ScopedLocale& operator=(const ScopedLocale&) = delete;

  private:
    std::locale m_previous;
};
#endif

}  // namespace test
