// The product's registry settings: every value of the product key and its subkeys, read in one
// pass into tables keyed by a setting number, and the folders the programs work in, derived from
// the installation folder.
//
// A missing key or value leaves its number absent; there are no defaults. The tables are filled
// once (again on every getter call while the registry holds none of the text values) and never
// refreshed. One object is used by one thread.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <unordered_map>

#include "product/Registry.h"

class CRegistryRoot : public CRegistry {
  public:
    // Setting numbers; 6 and 18 are not used. Numbers 4, 11, 13-17 and 19-27 are DWORDs, the
    // others text.
    enum Setting : int {
        kVormaRoot = 0,
        kInstallDir = 1,
        kBinDir = 2,
        kHelpFile = 3,
        kLcid = 4,
        kAgentWaitTime = 5,
        kLinuxInstallDir = 7,
        kLinuxOptionDir = 8,
        kLinuxLocalMonitorletDir = 9,
        kLinuxRemoteMonitorletDir = 10,
        kLinuxTraceEnabled = 11,
        kLinuxTraceDir = 12,
        kLinuxTraceRotateManager = 13,
        kLinuxTraceRotateShell = 14,
        kLinuxTraceSizeManager = 15,
        kLinuxTraceSizeShell = 16,
        kLinuxWaitManagerDestroyInterval = 17,
        kLinuxWaitManagerDestroyL1 = 19,
        kLinuxWaitManagerDestroyL2 = 20,
        kLinuxWaitShellSubThreadDone = 21,
        kLinuxWaitReadPipeInterval = 22,
        kLinuxWaitReadPipeCount = 23,
        kLinuxWaitCommandDone = 24,
        kActionTimeOut = 25,
        kActionCancelTimeOut = 26,
        kActionForciblyKill = 27,
    };

    // Folder numbers: folders relative to the installation folder.
    enum Folder : int {
        kFolderCommon = 0,
        kFolderMonitorlet = 1,
        kFolderOption = 2,
        kFolderOptionBasic = 3,
        kFolderOptionLinux = 4,
        kFolderOptionMetaFrame = 5,
        kFolderOptionOracle = 6,
        kFolderOptionVMware = 7,
        kFolderSnmp = 8,
        kFolderSnmpMibs = 9,
        kFolderTemplateData = 10,
    };

    // The product key below HKEY_LOCAL_MACHINE.
    static constexpr const wchar_t* kProductKey = L"SOFTWARE\\Quillon\\VORMAW6";

    // Paths are limited to MAX_PATH (260 UTF-16 units with the terminator), as on Windows.
    static constexpr std::size_t kMaxPath = 260;

    CRegistryRoot() = default;
    // Empties the tables, then closes the key.
    ~CRegistryRoot() override;

    // The reading pass: every setting, in the order of the settings table. Always returns 0.
    std::uint32_t Load();

    // The installation folder (InstallDir of the product key). Runs the reading pass first when
    // the text table is empty. Returns 2, leaving `dir` unchanged, when the value is absent.
    std::uint32_t GetInstallDir(std::wstring& dir);

    // The SNMP data folder: the installation folder joined with "Common/snmp" (folder 8).
    // Empty text when the installation folder is absent or empty, or the path is too long.
    std::wstring GetSnmpDir();

    // The product's configuration folder: the installation folder joined with
    // "Environment/Config". Empty text as for GetSnmpDir.
    std::wstring GetConfigDir();

    // The helper library's settings file: the configuration folder joined with "MxHelper.ini",
    // or empty text when the configuration folder is empty.
    std::wstring GetHelperIniPath();

    // What the reading pass found for a setting; nothing for an absent one.
    std::optional<std::wstring> FindText(int setting) const;
    std::optional<std::uint32_t> FindNumber(int setting) const;

  private:
    void BuildFolders();
    // `dir` joined with the backslash-written `relative`, or empty text when `dir` is empty or
    // the result does not fit in MAX_PATH.
    static std::wstring JoinFolder(const std::wstring& dir, std::wstring_view relative);

    std::unordered_map<int, std::wstring> m_texts;
    std::unordered_map<int, std::uint32_t> m_numbers;
    std::unordered_map<int, std::wstring> m_folders;
};
