// The surroundings every fuzz target runs in: a private folder with its own system root, whose
// Application log is /dev/null (settings readers report every bad line, and millions of runs must
// not fill a disk), and an SNMP data folder with the MIB modules the tests use.
#pragma once

#include <filesystem>
#include <string>

#include "platform/DynamicLibrary.h"

class CFuzzInstallation {
  public:
    // The SNMP engine's application name in the fuzz targets.
    static constexpr char kAppName[] = "VORMA_SNMPTRAP";

    // Creates the folder below the temporary folder, sets VORMA_SYSROOT to its system root and
    // keeps OpenSSL's library loaded, so that the settings cipher does not load and unload it for
    // every input. With `withMibs` the SNMP data folder gets the MIB modules of the npm package
    // net-snmp (when installed), Net-SNMP's own two and the test module of traps/tests.
    explicit CFuzzInstallation(bool withMibs);
    // Removes the folder.
    ~CFuzzInstallation();
    CFuzzInstallation(const CFuzzInstallation&) = delete;
    CFuzzInstallation& operator=(const CFuzzInstallation&) = delete;

    const std::filesystem::path& Root() const { return m_root; }
    // The SNMP data folder: Mibs, Config, Tmp, logs.
    std::filesystem::path SnmpDir() const { return m_root / "snmp"; }
    std::filesystem::path MibReport() const { return SnmpDir() / "logs" / "VormaSnmpManager.txt"; }

    // Writes a file of Net-SNMP's configuration path (the Config folder).
    void WriteSnmpConfig(const std::string& name, const std::string& text) const;

  private:
    void LinkMibs() const;

    std::filesystem::path m_root;
    platform::DynamicLibrary m_crypto;
};
