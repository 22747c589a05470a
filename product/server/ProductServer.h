// The stand-in product server: answers Login, GetAppConfig and Logoff over SOAP from a
// CProductStore, one request per connection, one at a time. It writes one line per request to
// standard output before it answers. Operations can be told to fail (SetFailure) so that clients
// meet every kind of result over a real exchange, or to answer late (SetDelay).
#pragma once

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <map>
#include <optional>
#include <string>

#include "product/helper/ProductStore.h"
#include "soapH.h"

class CProductServer {
  public:
    // A failure that is not a result carried in a fault.
    static constexpr int kFailDrop = -1;        // read the request, close without an answer
    static constexpr int kFailReset = -100000;  // read the request, reset the connection

    explicit CProductServer(std::filesystem::path root);
    ~CProductServer();
    CProductServer(const CProductServer&) = delete;
    CProductServer& operator=(const CProductServer&) = delete;

    CProductStore& Store() { return m_store; }

    // "OPERATION=RESULT": Login, GetAppConfig or Logoff; RESULT a non-zero number or "reset".
    // 1, 2 and 12 answer with a fault (codes Client, Server, ns1:Rejected) and its detail record;
    // -1 closes the connection without an answer, "reset" resets it; any other number answers with
    // a fault of code ns1:Result carrying that number. False for a malformed text.
    bool SetFailure(const std::string& text);

    // "OPERATION=MILLISECONDS": the operation waits that long before it answers (a slow server).
    // False for a malformed text.
    bool SetDelay(const std::string& text);

    // Binds the listening socket; `port` 0 takes a free port. Returns 0 or gSOAP's error number,
    // and the port actually bound.
    int Bind(const std::string& host, int port, std::uint16_t* boundPort);

    // Serves requests until `stop` becomes true (checked at least every 50 ms).
    void Serve(const std::atomic<bool>& stop);

    // The three operations, called by gSOAP's dispatcher.
    int Login(struct soap* soap, const char* account, const char* password);
    int GetAppConfig(struct soap* soap, const wchar_t* section, ns1__Config* config);
    int Logoff(struct soap* soap);

  private:
    std::optional<int> FailureOf(const std::string& operation) const;
    void Delay(const std::string& operation) const;
    int Fail(struct soap* soap, const std::string& operation, int result);
    void Reply(struct soap* soap, const std::string& session);
    void Log(const std::string& line);

    CProductStore m_store;
    std::map<std::string, int> m_failures;
    std::map<std::string, int> m_delays;
    struct soap* m_soap = nullptr;
    int m_headerNumber = 0;
    // Whether the request being served has had its line.
    bool m_logged = false;
};
