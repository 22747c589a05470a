#include "product/MxhCon.h"

#include <new>
#include <stdexcept>
#include <utility>

#include "product/helper/ProductProtocol.h"

namespace {

constexpr char kNoContext[] = "CMxhCon.m_pSoap is NULL. unexpected case";
constexpr wchar_t kHelperSource[] = L"ヘルパー";

// std::bad_alloc that tells where the allocation failed.
class CSoapCopyFailure : public std::bad_alloc {
  public:
    const char* what() const noexcept override {
        return "soap_copy memory allocate Fail in CMxhCon:constractor.";
    }
};

}  // namespace

CMxhCon::CMxhCon() {
    struct soap* client = Mxh_GetClientSoapObj();
    m_soap = client != nullptr ? soap_copy(client) : nullptr;
    if (m_soap == nullptr) {
        throw CSoapCopyFailure();
    }
    m_soap->connect_timeout = 5;
    m_soap->send_timeout = 120;
    m_soap->recv_timeout = 120;
}

CMxhCon::~CMxhCon() {
    if (m_soap != nullptr) {
        m_soap->header = nullptr;
        soap_delete(m_soap, nullptr);
        soap_end(m_soap);
        // soap_copy allocated the copy with new; soap_free runs soap_done and deletes it.
        soap_free(m_soap);
        m_soap = nullptr;
    }
}

bool CMxhCon::BeginCall() {
    if (m_soap == nullptr) {
        throw std::runtime_error(kNoContext);
    }
    m_lock.lock();
    if (m_blocked) {
        return false;
    }
    if (m_freeBeforeCall) {
        FreeCallData();
    }
    m_header.ns1__kind = product::kHeaderKindRequest;
    m_header.ns1__headerText = m_headerText;
    m_header.ns1__accessClass = m_accessClass;
    m_header.ns1__session = m_session;
    m_soap->header = &m_header;
    return true;
}

void CMxhCon::EndCall() {
    if (m_soap == nullptr) {
        throw std::runtime_error(kNoContext);
    }
    // Standard input and output have no text and binary modes to put back on POSIX.
    if (m_lastResult == SOAP_OK) {
        TakeHeader();
    } else if (m_lastResult == SOAP_SVR_FAULT || m_lastResult == SOAP_FAULT) {
        TakeFault();
    } else {
        if (m_lastResult == SOAP_EOF) {
            m_errorNumber = m_soap->errnum != 0 ? 1500 : 1499;
        } else {
            m_errorNumber = 1500 + m_lastResult;
        }
        m_message = Mxh_GetMessageW(m_errorNumber);
        m_message2 = m_message;
        m_source = kHelperSource;
        m_faultText = Mxh_GetMessageA(m_errorNumber);
        if (m_lastResult >= kFirstBlockingResult && m_lastResult <= kLastBlockingResult) {
            m_blocked = true;
        }
    }
    m_lock.unlock();
}

void CMxhCon::TakeHeader() {
    const SOAP_ENV__Header* header = m_soap->header;
    if (header == nullptr) {
        return;
    }
    m_headerNumber = header->ns1__number;
    m_headerText = header->ns1__headerText;
    m_session = header->ns1__session;
    if (m_classChangeCallback && m_accessClass == product::kExclusiveClass &&
        header->ns1__accessClass == product::kSharedClass) {
        m_classChangeCallback();
    }
    m_accessClass = header->ns1__accessClass;
}

void CMxhCon::TakeFault() {
    const SOAP_ENV__Fault* fault = m_soap->fault;
    if (fault == nullptr) {
        return;
    }
    if (fault->faultstring != nullptr) {
        m_faultText = fault->faultstring;
    }
    const SOAP_ENV__Detail* detail =
        fault->detail != nullptr ? fault->detail : fault->SOAP_ENV__Detail;
    if (detail != nullptr) {
        m_errorNumber = detail->ns1__errorNumber;
        m_message = detail->ns1__message;
        m_source = detail->ns1__source;
        m_message2 = detail->ns1__message2;
    }
}

void CMxhCon::FreeCallData() {
    // The header record is the connection's own, not the context's.
    m_soap->header = nullptr;
    soap_delete(m_soap, nullptr);
    soap_end(m_soap);
}

int CMxhCon::Connect() {
    m_blocked = false;
    return Login(m_accountName, m_password);
}

int CMxhCon::Disconnect() {
    int result = 0;
    if (!m_session.empty()) {
        result = Logoff();
        m_session.clear();
    }
    m_blocked = false;
    return result;
}

void CMxhCon::SetFreeBeforeCall(bool freeBeforeCall) {
    m_freeBeforeCall = freeBeforeCall;
}

std::string CMxhCon::GetServerName() const {
    return m_serverName;
}

void CMxhCon::SetServerName(const std::string& name) {
    m_serverName = name;
}

std::string CMxhCon::GetAccountName() const {
    return m_accountName;
}

void CMxhCon::SetAccountName(const std::string& name) {
    m_accountName = name;
}

std::string CMxhCon::GetPassword() const {
    return m_password;
}

void CMxhCon::SetPassword(const std::string& password) {
    m_password = password;
}

std::wstring CMxhCon::GetHeaderText() const {
    return m_headerText;
}

void CMxhCon::SetHeaderText(const std::wstring& text) {
    std::lock_guard<std::mutex> guard(m_lock);
    m_headerText = text;
}

std::wstring CMxhCon::GetAccessClass() const {
    return m_accessClass;
}

void CMxhCon::SetAccessClass(const std::wstring& accessClass) {
    m_accessClass = accessClass;
}

int CMxhCon::GetLastResult() const {
    return m_lastResult;
}

void CMxhCon::SetTimeouts(int connectSeconds, int sendSeconds, int receiveSeconds) {
    m_soap->connect_timeout = connectSeconds;
    m_soap->send_timeout = sendSeconds;
    m_soap->recv_timeout = receiveSeconds;
}

void CMxhCon::SetClassChangeCallback(std::function<void()> callback) {
    m_classChangeCallback = std::move(callback);
}
