// Test helper: a product installation in a private system root. The registry's InstallDir names
// it, Environment/Config holds the helper's MxHelper.ini and the SNMP manager's section file.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "platform/Registry.h"
#include "platform/Text.h"
#include "product/Registry.h"
#include "product/RegistryRoot.h"
#include "tests/support/TempSysRoot.h"

namespace test {

class CTestInstallation {
  public:
    CTestInstallation() : m_dir(m_sysRoot.path() / "install") {
        std::filesystem::create_directories(ConfigDir());
        CRegistry reg;
        reg.Create(platform::kHkeyLocalMachine, CRegistryRoot::kProductKey);
        reg.SetExpandStringValue(L"InstallDir", InstallDir());
    }

    std::wstring InstallDir() const { return platform::LocaleToWide(m_dir.string()); }
    std::filesystem::path Dir() const { return m_dir; }
    std::filesystem::path ConfigDir() const { return m_dir / "Environment" / "Config"; }

    // The section file of "Environment\Config\SNMP_MANAGER", written as given (UTF-8).
    void WriteManagerSection(const std::string& text) const {
        std::ofstream(ConfigDir() / "SNMP_MANAGER.ini", std::ios::binary) << text;
    }

    // MxHelper.ini naming the server's endpoint.
    void UseServer(const std::string& endpoint) const {
        std::ofstream(ConfigDir() / "MxHelper.ini", std::ios::binary)
            << "[Server]\nEndpoint=" << endpoint << "\n";
    }

    // No MxHelper.ini: the helper answers in-process.
    void UseEmbedded() const { std::filesystem::remove(ConfigDir() / "MxHelper.ini"); }

  private:
    TempSysRoot m_sysRoot;
    std::filesystem::path m_dir;
};

}  // namespace test
