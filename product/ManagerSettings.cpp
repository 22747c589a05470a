#include "product/ManagerSettings.h"

#include <algorithm>
#include <climits>
#include <cstdio>
#include <cwctype>
#include <exception>
#include <set>
#include <string_view>

#include "product/RegistryRoot.h"
#include "product/helper/MxhLogger.h"

namespace {

constexpr std::wstring_view kEntryNames[] = {L"IsListen", L"DispName", L"Addr", L"CommunityName"};

// Entry number i as the section writes it: "%03d".
std::wstring EntryNumber(int i) {
    wchar_t text[16];
    std::swprintf(text, sizeof text / sizeof text[0], L"%03d", i);
    return text;
}

// The entry numbers from 1 to `count` that some item of the section names (IsListen007,
// Addr1000 ...), ascending, and the first number that none names: entries without items are all
// empty and alike, and a lookup can only ever reach the first of them, so that one stands for the
// rest. The list stays as long as the section, whatever the count says (a count of 2000000000
// must not build two thousand million entries).
std::vector<int> EntryNumbers(const CConfig& config, int count) {
    std::set<int> numbers;
    for (const auto& [name, value] : config.Items()) {
        for (std::wstring_view prefix : kEntryNames) {
            if (!std::wstring_view(name).starts_with(prefix)) {
                continue;
            }
            std::wstring_view digits = std::wstring_view(name).substr(prefix.size());
            if (digits.size() < 3 || digits.size() > 10 ||
                digits.find_first_not_of(L"0123456789") != std::wstring_view::npos) {
                continue;
            }
            long long number = 0;
            for (wchar_t c : digits) {
                number = number * 10 + (c - L'0');
            }
            // Only numbers written as "%03d" writes them name an entry.
            if (number >= 1 && number <= count && EntryNumber(static_cast<int>(number)) == digits) {
                numbers.insert(static_cast<int>(number));
            }
        }
    }
    int firstEmpty = 1;
    for (int number : numbers) {
        if (number != firstEmpty) {
            break;
        }
        ++firstEmpty;
    }
    if (firstEmpty <= count) {
        numbers.insert(firstEmpty);
    }
    return std::vector<int>(numbers.begin(), numbers.end());
}

}  // namespace

int WideToInt(std::wstring_view text) {
    std::size_t i = 0;
    while (i < text.size() && std::iswspace(static_cast<wint_t>(text[i]))) {
        ++i;
    }
    bool negative = false;
    if (i < text.size() && (text[i] == L'+' || text[i] == L'-')) {
        negative = text[i] == L'-';
        ++i;
    }
    long long value = 0;
    for (; i < text.size() && text[i] >= L'0' && text[i] <= L'9'; ++i) {
        value = value * 10 + (text[i] - L'0');
        if (value > static_cast<long long>(INT_MAX) + 1) {
            value = static_cast<long long>(INT_MAX) + 1;
        }
    }
    if (negative) {
        return static_cast<int>(-value);
    }
    return value > INT_MAX ? INT_MAX : static_cast<int>(value);
}

CManagerSettings::~CManagerSettings() {
    // The scheduler calls Shutdown; without it the connection and the holder still go cleanly,
    // but the helper library stays as it is.
    m_connection.reset();
    m_config.reset();
}

void CManagerSettings::NoteStartupFailure(int result) {
    // The transport's own results: nothing (or nothing usable) came back from the server.
    const bool unreachable = result == SOAP_EOF || result == SOAP_UDP_ERROR ||
                             result == SOAP_TCP_ERROR || result == SOAP_HTTP_ERROR ||
                             result == SOAP_SSL_ERROR;
    m_startupFailure = unreachable ? Failure::kServerUnreachable : Failure::kSettingsUnreadable;
}

int CManagerSettings::Startup(const std::wstring& installDir) {
    m_startupFailure = Failure::kNone;
    try {
        std::wstring folder = installDir;
        while (!folder.empty() && (folder.back() == L'\\' || folder.back() == L'/')) {
            folder.pop_back();
        }
        if (!Mxh_Init(folder.c_str(), false)) {
            return 1;
        }
        CMxhLogger::GetInstance();
        m_config = std::make_shared<CConfig>();
        m_helperIniPath = CRegistryRoot().GetHelperIniPath();

        auto connection = std::make_unique<CMxhConLocal>();
        m_connection = std::move(connection);
        Mxh_SetPrivilege();
        if (const int login = m_connection->Connect(); login != 0) {
            NoteStartupFailure(login);
            return 0;
        }
        int result = ReadAgentList();
        m_connection->Disconnect();
        if (result != 0) {
            NoteStartupFailure(result);
            return 0;
        }
        return 1;
    } catch (const std::exception&) {
        // Memory or the copy of the library's context ran out: the settings cannot be read.
        m_startupFailure = Failure::kSettingsUnreadable;
        return 0;
    }
}

int CManagerSettings::ReadAgentList() {
    ns1__Config* section = soap_new_ns1__Config(m_config->Context(), -1);
    if (section == nullptr) {
        return SOAP_EOM;
    }
    std::wstring sectionName = kManagerSectionName;
    int result = m_connection->GetAppConfig(sectionName.data(), section);
    if (result != 0) {
        return result;
    }
    m_config->Load(*section);
    m_agents.clear();
    int count = WideToInt(m_config->Get(L"NumberOfElements"));
    if (count <= 0) {
        return 0;
    }
    for (int i : EntryNumbers(*m_config, count)) {
        std::wstring number = EntryNumber(i);
        auto entry = std::make_shared<CAgentEntry>();
        entry->m_listen = m_config->Get(L"IsListen" + number) == L"TRUE" ? 1 : 0;
        entry->m_dispName = m_config->Get(L"DispName" + number);
        entry->m_addr = m_config->Get(L"Addr" + number);
        entry->m_communityName = m_config->Get(L"CommunityName" + number);
        if (entry->m_addr != kAllText) {
            ParseAgentAddress(entry->m_addr, &entry->m_address);
        }
        if (entry->m_addr == kAllText && entry->m_communityName == kAllText) {
            m_wildcardPresent = 1;
            m_wildcardListens = entry->m_listen;
            m_wildcardDispName = entry->m_dispName;
        }
        m_agents.push_back(std::move(entry));
    }
    return 0;
}

void CManagerSettings::Shutdown() {
    if (m_connection) {
        m_connection->Disconnect();
        m_connection.reset();
    }
    CMxhLogger::DestroyInstance();
    Mxh_Fini();
    m_config.reset();
    m_agents.clear();
}

int FindAgent(CAgentEntry& record, const CManagerSettings& settings) {
    AgentAddress query{};
    if (record.m_addr != kAllText) {
        ParseAgentAddress(record.m_addr, &query);
    }
    for (const std::shared_ptr<CAgentEntry>& entry : settings.Agents()) {
        if (entry->m_address == query && entry->m_communityName == record.m_communityName) {
            record.m_addr = entry->m_addr;
            record.m_communityName = entry->m_communityName;
            record.m_dispName = entry->m_dispName;
            record.m_listen = entry->m_listen;
            return 1;
        }
    }
    return 0;
}
