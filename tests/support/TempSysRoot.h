// Test helper: a fresh system root (registry, event log, named objects) in a temporary folder,
// set as VORMA_SYSROOT for the life of the object and removed afterwards.
#pragma once

#include <stdlib.h>

#include <filesystem>
#include <string>

namespace test {

class TempSysRoot {
  public:
    TempSysRoot() {
        std::string tmpl = (std::filesystem::temp_directory_path() / "vorma-test-XXXXXX").string();
        char* made = mkdtemp(tmpl.data());
        m_path = made != nullptr ? std::filesystem::path(made) : std::filesystem::path();
        const char* old = getenv("VORMA_SYSROOT");
        m_hadOld = old != nullptr;
        if (m_hadOld) {
            m_old = old;
        }
        setenv("VORMA_SYSROOT", m_path.c_str(), 1);
    }
    ~TempSysRoot() {
        if (m_hadOld) {
            setenv("VORMA_SYSROOT", m_old.c_str(), 1);
        } else {
            unsetenv("VORMA_SYSROOT");
        }
        std::error_code ec;
        std::filesystem::remove_all(m_path, ec);
    }
    TempSysRoot(const TempSysRoot&) = delete;
    TempSysRoot& operator=(const TempSysRoot&) = delete;

    const std::filesystem::path& path() const { return m_path; }

  private:
    std::filesystem::path m_path;
    std::string m_old;
    bool m_hadOld = false;
};

}  // namespace test
