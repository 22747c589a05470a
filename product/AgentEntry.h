// An agent entry of the agent list, and the lookup record that dispatch fills and passes to
// FindAgent (ManagerSettings.h).
#pragma once

#include <cstdint>
#include <string>

#include "product/AgentAddress.h"

class CAgentEntry {
  public:
    // 1 when the entry's IsListen is exactly "TRUE", else 0.
    std::int32_t m_listen = 0;
    std::wstring m_dispName;
    // As configured: an IPv4 or IPv6 address, "(ALL)", or anything else.
    std::wstring m_addr;
    // A community, or "(ALL)".
    std::wstring m_communityName;
    // ParseAgentAddress of m_addr; 16 zero bytes for "(ALL)" and for text that does not parse.
    AgentAddress m_address{};
};
