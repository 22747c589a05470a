#include "fuzz/FuzzInstallation.h"

#include <stdlib.h>

#include <cstdio>
#include <fstream>

#include "platform/CryptoLibrary.h"

namespace fs = std::filesystem;

namespace {

fs::path NpmMibDir() {
    const char* deps = getenv("VORMA_DEPS_DIR");
    const fs::path dir = deps != nullptr && *deps != '\0' ? fs::path(deps) : "/opt/vorma-deps";
    return dir / "node_modules" / "net-snmp" / "lib" / "mibs";
}

}  // namespace

CFuzzInstallation::CFuzzInstallation(bool withMibs) {
    std::string pattern = (fs::temp_directory_path() / "vorma-fuzz-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) {
        std::perror("vorma fuzz: mkdtemp");
        std::abort();
    }
    m_root = pattern;
    const fs::path sysRoot = m_root / "sysroot";
    fs::create_directories(sysRoot / "eventlog");
    fs::create_symlink("/dev/null", sysRoot / "eventlog" / "Application.jsonl");
    setenv("VORMA_SYSROOT", sysRoot.c_str(), 1);
    for (const char* folder : {"Mibs", "Config", "Tmp", "logs"}) {
        fs::create_directories(SnmpDir() / folder);
    }
    if (withMibs) {
        LinkMibs();
    }
    m_crypto = platform::DynamicLibrary::Load(platform::kCryptoLibraryFileName);
}

CFuzzInstallation::~CFuzzInstallation() {
    std::error_code ec;
    fs::remove_all(m_root, ec);
}

void CFuzzInstallation::WriteSnmpConfig(const std::string& name, const std::string& text) const {
    std::ofstream(SnmpDir() / "Config" / name) << text;
}

void CFuzzInstallation::LinkMibs() const {
    const fs::path mibs = SnmpDir() / "Mibs";
    std::error_code ec;
    // The set of the engine tests: every module of the npm package but RFC-1215.
    for (const auto& entry : fs::directory_iterator(NpmMibDir(), ec)) {
        if (entry.path().extension() == ".mib" && entry.path().filename() != "RFC-1215.mib") {
            fs::create_symlink(entry.path(), mibs / entry.path().filename(), ec);
        }
    }
    if (ec) {
        std::fprintf(stderr, "vorma fuzz: no MIB modules of the npm package net-snmp under %s\n",
                     NpmMibDir().c_str());
    }
    for (const char* name : {"NET-SNMP-MIB.txt", "NET-SNMP-TC.txt"}) {
        fs::create_symlink(fs::path("/usr/share/snmp/mibs") / name, mibs / name, ec);
    }
    fs::create_symlink(
        fs::path(VORMA_SOURCE_DIR) / "traps" / "tests" / "mibs" / "VORMA-TEST-MIB.txt",
        mibs / "VORMA-TEST-MIB.txt", ec);
}
