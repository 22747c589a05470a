#include "product/server/ProductServer.h"

#include <charconv>
#include <chrono>
#include <cstdio>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "VormaProduct.nsmap"
#include "platform/Network.h"
#include "platform/Text.h"
#include "product/helper/ProductProtocol.h"

namespace {

// Sends nothing: the connection is closed (or reset) without an answer.
int DiscardSend(struct soap*, const char*, std::size_t) {
    return SOAP_OK;
}

// Keeps the orderly end (FIN) from going out ahead of the reset.
int SkipShutdown(struct soap*, SOAP_SOCKET, int) {
    return SOAP_OK;
}

CProductServer* ServerOf(struct soap* soap) {
    return static_cast<CProductServer*>(soap->user);
}

std::string Quoted(const std::string& text) {
    std::string out = "\"";
    for (char c : text) {
        if (c == '"' || c == '\\') {
            out.push_back('\\');
        }
        out.push_back(c >= 0 && c < 0x20 ? '?' : c);
    }
    out.push_back('"');
    return out;
}

int SetFault(struct soap* soap, const char* code, const std::string& faultString, int result,
             int errorNumber, const std::wstring& message, const std::wstring& source,
             const std::wstring& message2) {
    soap_fault(soap);
    SOAP_ENV__Detail* detail = soap_new_SOAP_ENV__Detail(soap, -1);
    if (soap->fault == nullptr || detail == nullptr) {
        return SOAP_EOM;
    }
    detail->ns1__result = result;
    detail->ns1__errorNumber = errorNumber;
    detail->ns1__message = message;
    detail->ns1__source = source;
    detail->ns1__message2 = message2;
    soap->fault->faultstring = soap_strdup(soap, faultString.c_str());
    // The client speaks SOAP 1.1, so the answer does too.
    soap->fault->faultcode = soap_strdup(soap, code);
    soap->fault->detail = detail;
    return SOAP_FAULT;
}

}  // namespace

CProductServer::CProductServer(std::filesystem::path root) : m_store(std::move(root)) {
    m_soap = soap_new();
    if (m_soap != nullptr) {
        soap_set_mode(m_soap, SOAP_C_UTFSTRING);
        m_soap->user = this;
        m_soap->accept_timeout = -50000;  // 50 ms, to look at the stop flag
        m_soap->recv_timeout = 10;
        m_soap->send_timeout = 10;
        m_soap->bind_flags = SO_REUSEADDR;
    }
}

CProductServer::~CProductServer() {
    if (m_soap != nullptr) {
        soap_destroy(m_soap);
        soap_end(m_soap);
        soap_free(m_soap);
    }
}

bool CProductServer::SetFailure(const std::string& text) {
    std::size_t equals = text.find('=');
    if (equals == std::string::npos) {
        return false;
    }
    std::string operation = text.substr(0, equals);
    std::string value = text.substr(equals + 1);
    if (operation != "Login" && operation != "GetAppConfig" && operation != "Logoff") {
        return false;
    }
    int result = 0;
    if (value == "reset") {
        result = kFailReset;
    } else {
        auto [end, error] = std::from_chars(value.data(), value.data() + value.size(), result);
        if (error != std::errc() || end != value.data() + value.size() || result == 0 ||
            result == kFailReset) {
            return false;
        }
    }
    m_failures[operation] = result;
    return true;
}

bool CProductServer::SetDelay(const std::string& text) {
    std::size_t equals = text.find('=');
    if (equals == std::string::npos) {
        return false;
    }
    std::string operation = text.substr(0, equals);
    std::string value = text.substr(equals + 1);
    if (operation != "Login" && operation != "GetAppConfig" && operation != "Logoff") {
        return false;
    }
    int milliseconds = 0;
    auto [end, error] = std::from_chars(value.data(), value.data() + value.size(), milliseconds);
    if (error != std::errc() || end != value.data() + value.size() || milliseconds < 0) {
        return false;
    }
    m_delays[operation] = milliseconds;
    return true;
}

void CProductServer::Delay(const std::string& operation) const {
    auto it = m_delays.find(operation);
    if (it != m_delays.end()) {
        std::this_thread::sleep_for(std::chrono::milliseconds(it->second));
    }
}

int CProductServer::Bind(const std::string& host, int port, std::uint16_t* boundPort) {
    if (m_soap == nullptr) {
        return SOAP_EOM;
    }
    if (!soap_valid_socket(soap_bind(m_soap, host.c_str(), port, 16))) {
        return m_soap->error != SOAP_OK ? m_soap->error : SOAP_TCP_ERROR;
    }
    if (platform::SocketLocalPort(static_cast<std::intptr_t>(m_soap->master), boundPort) != 0) {
        return SOAP_TCP_ERROR;
    }
    return SOAP_OK;
}

void CProductServer::Serve(const std::atomic<bool>& stop) {
    const auto send = m_soap->fsend;
    const auto shutdown = m_soap->fshutdownsocket;
    while (!stop.load()) {
        if (!soap_valid_socket(soap_accept(m_soap))) {
            // A time-out, a signal, or a connection that went away before it was taken.
            continue;
        }
        m_soap->fsend = send;
        m_soap->fshutdownsocket = shutdown;
        m_logged = false;
        int result = soap_serve(m_soap);
        if (!m_logged) {
            // Not one of the three operations, or not a request that could be read.
            Log("request result=" + std::to_string(result));
        }
        soap_destroy(m_soap);
        soap_end(m_soap);
    }
}

std::optional<int> CProductServer::FailureOf(const std::string& operation) const {
    auto it = m_failures.find(operation);
    if (it == m_failures.end()) {
        return std::nullopt;
    }
    return it->second;
}

int CProductServer::Fail(struct soap* soap, const std::string& operation, int result) {
    if (result == kFailDrop || result == kFailReset) {
        Log(operation + " result=" + (result == kFailDrop ? "-1" : "reset") + " injected");
        soap->fsend = DiscardSend;
        if (result == kFailReset) {
            soap->fshutdownsocket = SkipShutdown;
            platform::SetAbortiveClose(static_cast<std::intptr_t>(soap->socket));
        }
        return SOAP_OK;
    }
    Log(operation + " result=" + std::to_string(result) + " injected");
    const char* code = result == 1    ? "SOAP-ENV:Client"
                       : result == 2  ? "SOAP-ENV:Server"
                       : result == 12 ? product::kRejectedFaultCode
                                      : product::kResultFaultCode;
    bool carried = result != 1 && result != 2 && result != 12;
    return SetFault(soap, code, "Injected failure of " + operation, carried ? result : 0,
                    9000 + result, L"試験のために失敗を返しました。", product::kServerSource,
                    platform::Utf8ToWide(operation));
}

void CProductServer::Reply(struct soap* soap, const std::string& session) {
    // The access class stays as the client asked for it while it has a session; logging off
    // gives up exclusive access.
    SOAP_ENV__Header* header = soap->header;
    if (header == nullptr) {
        header = soap_new_SOAP_ENV__Header(soap, -1);
        if (header == nullptr) {
            return;
        }
        header->ns1__kind = product::kHeaderKindRequest;
        soap->header = header;
    }
    header->ns1__number = ++m_headerNumber;
    header->ns1__session = session;
    if (header->ns1__accessClass.empty() || session.empty()) {
        header->ns1__accessClass = product::kSharedClass;
    }
}

void CProductServer::Log(const std::string& line) {
    m_logged = true;
    std::fputs((line + "\n").c_str(), stdout);
    std::fflush(stdout);
}

int CProductServer::Login(struct soap* soap, const char* account, const char* password) {
    std::string accountText = account != nullptr ? account : "";
    Delay("Login");
    if (std::optional<int> failure = FailureOf("Login")) {
        return Fail(soap, "Login", *failure);
    }
    std::string session;
    CStoreFault fault;
    int result = m_store.Login(accountText, password != nullptr ? password : "", &session, &fault);
    Log("Login account=" + Quoted(accountText) + " result=" + std::to_string(result));
    if (result != product::kResultOk) {
        return SetFault(
            soap,
            result == product::kResultServerFault ? "SOAP-ENV:Server" : product::kRejectedFaultCode,
            fault.m_faultString, 0, fault.m_errorNumber, fault.m_message, fault.m_source,
            fault.m_message2);
    }
    Reply(soap, session);
    return SOAP_OK;
}

int CProductServer::GetAppConfig(struct soap* soap, const wchar_t* section, ns1__Config* config) {
    std::wstring sectionText = section != nullptr ? section : L"";
    Delay("GetAppConfig");
    if (std::optional<int> failure = FailureOf("GetAppConfig")) {
        return Fail(soap, "GetAppConfig", *failure);
    }
    std::string session = soap->header != nullptr ? soap->header->ns1__session : std::string();
    std::vector<SectionItem> items;
    CStoreFault fault;
    int result = m_store.GetAppConfig(session, sectionText, &items, &fault);
    Log("GetAppConfig section=" + Quoted(platform::WideToUtf8(sectionText)) +
        " items=" + std::to_string(items.size()) + " result=" + std::to_string(result));
    if (result != product::kResultOk) {
        return SetFault(
            soap,
            result == product::kResultServerFault ? "SOAP-ENV:Server" : product::kRejectedFaultCode,
            fault.m_faultString, 0, fault.m_errorNumber, fault.m_message, fault.m_source,
            fault.m_message2);
    }
    config->item.clear();
    for (SectionItem& item : items) {
        ns1__ConfigItem configItem;
        configItem.name = std::move(item.first);
        configItem.value = std::move(item.second);
        config->item.push_back(std::move(configItem));
    }
    Reply(soap, session);
    return SOAP_OK;
}

int CProductServer::Logoff(struct soap* soap) {
    Delay("Logoff");
    if (std::optional<int> failure = FailureOf("Logoff")) {
        return Fail(soap, "Logoff", *failure);
    }
    std::string session = soap->header != nullptr ? soap->header->ns1__session : std::string();
    CStoreFault fault;
    int result = m_store.Logoff(session, &fault);
    Log("Logoff result=" + std::to_string(result));
    if (result != product::kResultOk) {
        return SetFault(soap, product::kRejectedFaultCode, fault.m_faultString, 0,
                        fault.m_errorNumber, fault.m_message, fault.m_source, fault.m_message2);
    }
    Reply(soap, std::string());
    return SOAP_OK;
}

// gSOAP's dispatcher calls these by name.
int ns1__Login(struct soap* soap, char* account, char* password, ns1__LoginResponse*) {
    return ServerOf(soap)->Login(soap, account, password);
}

int ns1__GetAppConfig(struct soap* soap, wchar_t* section, ns1__Config* config) {
    return ServerOf(soap)->GetAppConfig(soap, section, config);
}

int ns1__Logoff(struct soap* soap, ns1__LogoffResponse*) {
    return ServerOf(soap)->Logoff(soap);
}
