// The manager settings from the product server: at start-up the helper library is initialised,
// the server's section "Environment\Config\SNMP_MANAGER" is read through a connection and turned
// into the agent list and the wildcard values; afterwards dispatch looks agents up with
// FindAgent. Filled once on the scheduler's run thread, then only read (without a lock).
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "product/AgentEntry.h"
#include "product/Config.h"
#include "product/MxhConLocal.h"

inline constexpr wchar_t kAllText[] = L"(ALL)";
inline constexpr wchar_t kManagerSectionName[] = L"Environment\\Config\\SNMP_MANAGER";

class CManagerSettings {
  public:
    CManagerSettings() = default;
    virtual ~CManagerSettings();
    CManagerSettings(const CManagerSettings&) = delete;
    CManagerSettings& operator=(const CManagerSettings&) = delete;

    // 1 when the manager may go on (also when the helper library cannot be initialised: the agent
    // list then stays empty), 0 when the login or the reading of the section failed.
    int Startup(const std::wstring& installDir);

    // Why the last Startup could not read the agent list: the product server was not reached
    // (the connection could not be made, broke or was refused at the transport), or it was
    // reached (or the in-process store was read) and the settings could not be had from it.
    enum class Failure { kNone, kSettingsUnreadable, kServerUnreachable };
    Failure LastStartupFailure() const { return m_startupFailure; }

    // Ends the helper library's use: logs off and destroys the connection, releases the logger
    // and the library, the configuration holder and the agent list. Harmless to repeat.
    void Shutdown();

    std::int32_t WildcardPresent() const { return m_wildcardPresent; }
    std::int32_t WildcardListens() const { return m_wildcardListens; }
    const std::wstring& WildcardDispName() const { return m_wildcardDispName; }
    const std::vector<std::shared_ptr<CAgentEntry>>& Agents() const { return m_agents; }
    const std::wstring& HelperIniPath() const { return m_helperIniPath; }
    // The connection of the last Startup, or null.
    CMxhConLocal* Connection() const { return m_connection.get(); }

  private:
    int ReadAgentList();
    // Keeps why a call of the start-up failed with the helper library's result `result`.
    void NoteStartupFailure(int result);

    std::int32_t m_wildcardPresent = 0;
    std::int32_t m_wildcardListens = 0;
    std::wstring m_wildcardDispName;
    std::vector<std::shared_ptr<CAgentEntry>> m_agents;
    std::shared_ptr<CConfig> m_config;
    std::unique_ptr<CMxhConLocal> m_connection;
    std::wstring m_helperIniPath;
    Failure m_startupFailure = Failure::kNone;
};

// Looks `record` up by its Addr (16 zero bytes for "(ALL)", else its parse) and its community
// (exact): the first entry of the agent list with the same numeric address and community. On a
// match copies the entry's Addr, CommunityName, DispName and listen flag into `record` and
// returns 1; else returns 0 and leaves `record` as it was.
int FindAgent(CAgentEntry& record, const CManagerSettings& settings);

// The number in `text` as _wtoi reads it: leading white space, an optional sign, decimal digits
// up to the first other character; 0 when there are none; INT_MAX / INT_MIN when it overflows.
int WideToInt(std::wstring_view text);
