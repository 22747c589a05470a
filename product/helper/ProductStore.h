// The product server's side of the three operations the manager uses: the account check, the
// sessions, and the configuration sections read from their files below a root folder. The
// stand-in server program answers SOAP requests with it, and the helper library answers
// in-process with it when no server is configured. Safe to use from several threads.
#pragma once

#include <cstddef>
#include <deque>
#include <filesystem>
#include <mutex>
#include <optional>
#include <random>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "product/helper/SectionFile.h"
#include "product/helper/StoreFault.h"

class CProductStore {
  public:
    // Sessions beyond this number push the oldest out.
    static constexpr std::size_t kMaxSessions = 4096;

    explicit CProductStore(std::filesystem::path root);

    // By default any account logs in; after this only the given one does.
    void RequireAccount(std::string account, std::string password);

    // Every operation returns 0, or 2 / 12 with `fault` filled (see ProductProtocol.h).
    int Login(const std::string& account, const std::string& password, std::string* session,
              CStoreFault* fault);
    int GetAppConfig(const std::string& session, std::wstring_view section,
                     std::vector<SectionItem>* items, CStoreFault* fault);
    int Logoff(const std::string& session, CStoreFault* fault);

    bool HasSession(const std::string& session) const;

  private:
    std::string NewSessionLocked();

    const std::filesystem::path m_root;
    mutable std::mutex m_lock;
    std::optional<std::pair<std::string, std::string>> m_account;
    std::set<std::string> m_sessions;
    std::deque<std::string> m_sessionOrder;
    std::mt19937_64 m_random;
};
