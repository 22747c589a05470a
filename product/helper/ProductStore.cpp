#include "product/helper/ProductStore.h"

#include <algorithm>
#include <cstdio>
#include <utility>

#include "platform/Text.h"
#include "product/helper/ProductProtocol.h"

namespace {

void Refuse(CStoreFault* fault, int result, int errorNumber, const char* faultString,
            std::wstring message, std::wstring message2) {
    fault->m_result = result;
    fault->m_faultString = faultString;
    fault->m_errorNumber = errorNumber;
    fault->m_message = std::move(message);
    fault->m_source = product::kServerSource;
    fault->m_message2 = std::move(message2);
}

}  // namespace

CProductStore::CProductStore(std::filesystem::path root)
    : m_root(std::move(root)), m_random(std::random_device{}()) {}

void CProductStore::RequireAccount(std::string account, std::string password) {
    std::lock_guard<std::mutex> guard(m_lock);
    m_account.emplace(std::move(account), std::move(password));
}

int CProductStore::Login(const std::string& account, const std::string& password,
                         std::string* session, CStoreFault* fault) {
    std::lock_guard<std::mutex> guard(m_lock);
    if (m_account && (m_account->first != account || m_account->second != password)) {
        Refuse(fault, product::kResultRejected, product::kErrorLogonFailure, "Logon failure",
               L"アカウント名またはパスワードが正しくありません。", platform::Utf8ToWide(account));
        return fault->m_result;
    }
    *session = NewSessionLocked();
    return product::kResultOk;
}

int CProductStore::GetAppConfig(const std::string& session, std::wstring_view section,
                                std::vector<SectionItem>* items, CStoreFault* fault) {
    if (!HasSession(session)) {
        Refuse(fault, product::kResultRejected, product::kErrorNotLoggedOn, "Not logged on",
               L"ログオンしていません。", std::wstring(section));
        return fault->m_result;
    }
    std::filesystem::path path;
    if (!SectionFilePath(m_root, section, &path)) {
        Refuse(fault, product::kResultRejected, product::kErrorBadSectionName, "Bad section name",
               L"セクション名が正しくありません。", std::wstring(section));
        return fault->m_result;
    }
    std::error_code ec;
    std::vector<SectionItem> read = ReadSectionFile(path, ec);
    if (ec) {
        Refuse(fault, product::kResultServerFault, product::kErrorSectionUnreadable,
               "Section unreadable",
               L"セクションを読み込めません。" + platform::Utf8ToWide(ec.message()),
               std::wstring(section));
        return fault->m_result;
    }
    *items = std::move(read);
    return product::kResultOk;
}

int CProductStore::Logoff(const std::string& session, CStoreFault* fault) {
    std::lock_guard<std::mutex> guard(m_lock);
    if (m_sessions.erase(session) == 0) {
        Refuse(fault, product::kResultRejected, product::kErrorNotLoggedOn, "Not logged on",
               L"ログオンしていません。", L"");
        return fault->m_result;
    }
    m_sessionOrder.erase(std::find(m_sessionOrder.begin(), m_sessionOrder.end(), session));
    return product::kResultOk;
}

bool CProductStore::HasSession(const std::string& session) const {
    std::lock_guard<std::mutex> guard(m_lock);
    return m_sessions.count(session) != 0;
}

std::string CProductStore::NewSessionLocked() {
    std::string session;
    do {
        char text[33];
        std::snprintf(text, sizeof text, "%016llx%016llx",
                      static_cast<unsigned long long>(m_random()),
                      static_cast<unsigned long long>(m_random()));
        session = text;
    } while (m_sessions.count(session) != 0);
    if (m_sessions.size() >= kMaxSessions) {
        m_sessions.erase(m_sessionOrder.front());
        m_sessionOrder.pop_front();
    }
    m_sessions.insert(session);
    m_sessionOrder.push_back(session);
    return session;
}
