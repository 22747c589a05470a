// Test helper: makes a named locale the global C and C++ locale for the life of the object and
// puts the previous one back afterwards. Construction throws std::runtime_error when the machine
// lacks the locale (tests GTEST_SKIP then).
#pragma once

#include <locale>

namespace test {

class ScopedLocale {
  public:
    explicit ScopedLocale(const char* name) : m_previous(std::locale::global(std::locale(name))) {}
    ~ScopedLocale() { std::locale::global(m_previous); }
    ScopedLocale(const ScopedLocale&) = delete;
    ScopedLocale& operator=(const ScopedLocale&) = delete;

  private:
    std::locale m_previous;
};

}  // namespace test
