// Test helper: a fresh system root (registry, event log, named objects) in a temporary folder,
// set as VORMA_SYSROOT for the life of the object and removed afterwards. On Windows, where the
// system keeps that state itself, the folder is only a private temporary folder.
#pragma once

#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <random>
#include <string>

namespace test {

class TempSysRoot {
  public:
    TempSysRoot() {
        m_path = MakeFolder();
        const char* old = getenv("VORMA_SYSROOT");
        m_hadOld = old != nullptr;
        if (m_hadOld) {
            m_old = old;
        }
        SetVariable(m_path.string());
#ifdef _WIN32
        // A fresh system root has an empty Application log: under Wine, forget the events so far.
        if (const char* log = getenv("VORMA_WINE_EVENT_LOG"); log != nullptr) {
            std::ofstream(log, std::ios::binary | std::ios::trunc);
        }
#endif
    }
    ~TempSysRoot() {
        if (m_hadOld) {
            SetVariable(m_old);
        } else {
            UnsetVariable();
        }
        std::error_code ec;
        std::filesystem::remove_all(m_path, ec);
    }
    TempSysRoot(const TempSysRoot&) = delete;
    TempSysRoot& operator=(const TempSysRoot&) = delete;

    const std::filesystem::path& path() const {
        return m_path;
    }

  private:
    static std::filesystem::path MakeFolder() {
        std::filesystem::path base = std::filesystem::temp_directory_path();
#ifdef _WIN32
        std::random_device random;
        for (int attempt = 0; attempt < 100; ++attempt) {
            std::filesystem::path candidate = base / ("vorma-test-" + std::to_string(random()));
            std::error_code ec;
            if (std::filesystem::create_directory(candidate, ec)) {
                return candidate;
            }
        }
        return {};
#else
        std::string tmpl = (base / "vorma-test-XXXXXX").string();
        char* made = mkdtemp(tmpl.data());
        return made != nullptr ? std::filesystem::path(made) : std::filesystem::path();
#endif
    }
    static void SetVariable(const std::string& value) {
#ifdef _WIN32
        _putenv_s("VORMA_SYSROOT", value.c_str());
#else
        setenv("VORMA_SYSROOT", value.c_str(), 1);
#endif
    }
    static void UnsetVariable() {
#ifdef _WIN32
        _putenv_s("VORMA_SYSROOT", "");  // an empty value removes the variable
#else
        unsetenv("VORMA_SYSROOT");
#endif
    }

    std::filesystem::path m_path;
    std::string m_old;
    bool m_hadOld = false;
};

}  // namespace test
