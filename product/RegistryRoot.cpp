#include "product/RegistryRoot.h"

#include <array>

#include "platform/Path.h"
#include "platform/Text.h"
#include "platform/Win32Error.h"

namespace {

enum class ValueKind { kText, kNumber };

struct SettingSource {
    int number;
    ValueKind kind;
    const wchar_t* key;
    const wchar_t* name;
};

constexpr const wchar_t* kProduct = L"SOFTWARE\\Quillon\\VORMAW6";
constexpr const wchar_t* kLinuxOption = L"SOFTWARE\\Quillon\\VORMAW6\\LinuxOption";
constexpr const wchar_t* kAction = L"SOFTWARE\\Quillon\\VORMAW6\\Action";

// The reading order. "SOFTWARE\Quillon\" keeps its trailing backslash, which the registry ignores.
constexpr std::array<SettingSource, 26> kSettings = {{
    {CRegistryRoot::kVormaRoot, ValueKind::kText, L"SOFTWARE\\Quillon\\", L"VORMAROOT"},
    {CRegistryRoot::kLcid, ValueKind::kNumber, kProduct, L"LCID"},
    {CRegistryRoot::kInstallDir, ValueKind::kText, kProduct, L"InstallDir"},
    {CRegistryRoot::kBinDir, ValueKind::kText, kProduct, L"BinDir"},
    {CRegistryRoot::kHelpFile, ValueKind::kText, kProduct, L"HelpFile"},
    {CRegistryRoot::kAgentWaitTime, ValueKind::kText, kProduct, L"AgentWaitTime"},
    {CRegistryRoot::kLinuxInstallDir, ValueKind::kText, kLinuxOption, L"InstallDir"},
    {CRegistryRoot::kLinuxOptionDir, ValueKind::kText, kLinuxOption, L"OptionDir"},
    {CRegistryRoot::kLinuxLocalMonitorletDir, ValueKind::kText, kLinuxOption,
     L"LocalMonitorletDir"},
    {CRegistryRoot::kLinuxRemoteMonitorletDir, ValueKind::kText, kLinuxOption,
     L"RemoteMonitorletDir"},
    {CRegistryRoot::kLinuxTraceDir, ValueKind::kText, kLinuxOption, L"TraceDir"},
    {CRegistryRoot::kLinuxTraceEnabled, ValueKind::kNumber, kLinuxOption, L"TraceEnabled"},
    {CRegistryRoot::kLinuxTraceRotateManager, ValueKind::kNumber, kLinuxOption,
     L"TraceRotateManager"},
    {CRegistryRoot::kLinuxTraceRotateShell, ValueKind::kNumber, kLinuxOption, L"TraceRotateShell"},
    {CRegistryRoot::kLinuxTraceSizeManager, ValueKind::kNumber, kLinuxOption, L"TraceSizeManager"},
    {CRegistryRoot::kLinuxTraceSizeShell, ValueKind::kNumber, kLinuxOption, L"TraceSizeShell"},
    {CRegistryRoot::kLinuxWaitManagerDestroyInterval, ValueKind::kNumber, kLinuxOption,
     L"WaitManagerDestroyInterval"},
    {CRegistryRoot::kLinuxWaitManagerDestroyL1, ValueKind::kNumber, kLinuxOption,
     L"WaitManagerDestroyL1"},
    {CRegistryRoot::kLinuxWaitManagerDestroyL2, ValueKind::kNumber, kLinuxOption,
     L"WaitManagerDestroyL2"},
    {CRegistryRoot::kLinuxWaitShellSubThreadDone, ValueKind::kNumber, kLinuxOption,
     L"WaitShellSubThreadDone"},
    {CRegistryRoot::kLinuxWaitReadPipeInterval, ValueKind::kNumber, kLinuxOption,
     L"WaitReadPipeInterval"},
    {CRegistryRoot::kLinuxWaitReadPipeCount, ValueKind::kNumber, kLinuxOption,
     L"WaitReadPipeCount"},
    {CRegistryRoot::kLinuxWaitCommandDone, ValueKind::kNumber, kLinuxOption, L"WaitCommandDone"},
    {CRegistryRoot::kActionTimeOut, ValueKind::kNumber, kAction, L"TimeOut"},
    {CRegistryRoot::kActionCancelTimeOut, ValueKind::kNumber, kAction, L"CancelTimeOut"},
    {CRegistryRoot::kActionForciblyKill, ValueKind::kNumber, kAction, L"ForciblyKill"},
}};

// Relative folders as the product names them; turned into native paths when joined.
constexpr std::array<const wchar_t*, 11> kFolders = {
    L"Common",
    L"Common\\Monitorlet",
    L"Common\\Option",
    L"Common\\Option\\Basic",
    L"Common\\Option\\Linux",
    L"Common\\Option\\MetaFrame",
    L"Common\\Option\\ORACLE",
    L"Common\\Option\\VMware",
    L"Common\\snmp",
    L"Common\\snmp\\mibs",
    L"Common\\TemplateData",
};

}  // namespace

CRegistryRoot::~CRegistryRoot() {
    m_texts.clear();
    m_numbers.clear();
    m_folders.clear();
    Close();
}

std::uint32_t CRegistryRoot::Load() {
    for (const SettingSource& setting : kSettings) {
        Close();
        if (Open(platform::kHkeyLocalMachine, setting.key) == 0) {
            if (setting.kind == ValueKind::kText) {
                std::wstring text;
                if (QueryStringValue(setting.name, text) == 0) {
                    m_texts[setting.number] = std::move(text);
                }
            } else {
                std::uint32_t number = 0;
                if (QueryDWORDValue(setting.name, number) == 0) {
                    m_numbers[setting.number] = number;
                }
            }
        }
        Close();
    }
    return 0;
}

std::uint32_t CRegistryRoot::GetInstallDir(std::wstring& dir) {
    if (m_texts.empty()) {
        Load();
    }
    auto it = m_texts.find(kInstallDir);
    if (it == m_texts.end()) {
        return platform::kErrorFileNotFound;
    }
    dir = it->second;
    return 0;
}

std::wstring CRegistryRoot::GetSnmpDir() {
    std::wstring installDir;
    if (GetInstallDir(installDir) != 0) {
        return {};
    }
    BuildFolders();
    auto folder = m_folders.find(kFolderSnmp);
    if (folder == m_folders.end()) {
        return {};
    }
    return JoinFolder(installDir, folder->second);
}

std::wstring CRegistryRoot::GetConfigDir() {
    std::wstring installDir;
    if (GetInstallDir(installDir) != 0) {
        return {};
    }
    return JoinFolder(installDir, L"Environment\\Config");
}

std::wstring CRegistryRoot::GetHelperIniPath() {
    return JoinFolder(GetConfigDir(), L"MxHelper.ini");
}

std::optional<std::wstring> CRegistryRoot::FindText(int setting) const {
    auto it = m_texts.find(setting);
    return it == m_texts.end() ? std::nullopt : std::optional<std::wstring>(it->second);
}

std::optional<std::uint32_t> CRegistryRoot::FindNumber(int setting) const {
    auto it = m_numbers.find(setting);
    return it == m_numbers.end() ? std::nullopt : std::optional<std::uint32_t>(it->second);
}

void CRegistryRoot::BuildFolders() {
    if (!m_folders.empty()) {
        return;
    }
    for (std::size_t i = 0; i < kFolders.size(); ++i) {
        m_folders.emplace(static_cast<int>(i), kFolders[i]);
    }
}

// An empty installation folder would turn the folders into paths relative to whatever the
// current folder is, so it counts as absent. A path that does not fit in MAX_PATH (the limit of
// the Windows build, kept on every platform so both behave alike) is not cut short: the folder
// counts as absent and the callers report it as missing.
std::wstring CRegistryRoot::JoinFolder(const std::wstring& dir, std::wstring_view relative) {
    if (dir.empty()) {
        return {};
    }
    std::wstring path = platform::AppendPath(dir, platform::NativeRelativePath(relative));
    if (platform::Utf16Length(path) >= kMaxPath) {
        return {};
    }
    return path;
}
