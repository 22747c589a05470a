#include "product/helper/Vorma6Helper.h"

#include <atomic>
#include <cstring>
#include <filesystem>
#include <memory>
#include <mutex>
#include <new>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/Path.h"
#include "platform/Text.h"
#include "product/helper/HelperMessages.h"
#include "product/helper/IniFile.h"
#include "product/helper/MxhLogger.h"
#include "product/helper/ProductProtocol.h"
#include "product/helper/ProductStore.h"
#include "product/helper/SectionFile.h"

namespace {

struct SoapFree {
    void operator()(struct soap* soap) const {
        soap_destroy(soap);
        soap_end(soap);
        soap_free(soap);
    }
};

struct HelperState {
    std::unique_ptr<struct soap, SoapFree> client;
    // Empty: answer in-process from `store`.
    std::string endpoint;
    std::shared_ptr<CProductStore> store;
};

std::mutex g_stateLock;
HelperState g_state;
std::atomic<int> g_headerNumber{0};

// What one operation needs of the library's state, taken under the lock.
struct Target {
    bool ready = false;
    std::string endpoint;
    std::shared_ptr<CProductStore> store;
};

Target CurrentTarget() {
    std::lock_guard<std::mutex> guard(g_stateLock);
    Target target;
    target.ready = g_state.client != nullptr;
    target.endpoint = g_state.endpoint;
    target.store = g_state.store;
    return target;
}

std::filesystem::path ToPath(const std::wstring& wide) {
    return std::filesystem::path(platform::WideToLocale(wide));
}

// A fault with the code kResultFaultCode stands for the result carried in its detail. (gSOAP
// gives a received QName with the prefix of its own namespace table.)
int RemoteResult(struct soap* soap, int result) {
    if (result != SOAP_FAULT || soap->fault == nullptr || soap->fault->faultcode == nullptr ||
        std::strcmp(soap->fault->faultcode, product::kResultFaultCode) != 0) {
        return result;
    }
    const SOAP_ENV__Detail* detail =
        soap->fault->detail != nullptr ? soap->fault->detail : soap->fault->SOAP_ENV__Detail;
    if (detail == nullptr || detail->ns1__result == 0) {
        return result;
    }
    soap->error = detail->ns1__result;
    return soap->error;
}

// The in-process answers put into the context what a SOAP exchange would have left there.
std::string RequestSession(const struct soap* soap) {
    return soap->header != nullptr ? soap->header->ns1__session : std::string();
}

int LocalSuccess(struct soap* soap, const std::string& session) {
    SOAP_ENV__Header* header = soap->header;
    if (header == nullptr) {
        header = soap_new_SOAP_ENV__Header(soap, -1);
        if (header == nullptr) {
            return soap->error = SOAP_EOM;
        }
        soap->header = header;
    }
    header->ns1__number = ++g_headerNumber;
    header->ns1__session = session;
    // As the server does: the access class stays while there is a session; logging off gives up
    // exclusive access.
    if (header->ns1__accessClass.empty() || session.empty()) {
        header->ns1__accessClass = product::kSharedClass;
    }
    soap->fault = nullptr;
    soap->errnum = 0;
    return soap->error = SOAP_OK;
}

int LocalFault(struct soap* soap, const CStoreFault& storeFault) {
    soap->fault = nullptr;
    soap_fault(soap);
    SOAP_ENV__Detail* detail = soap_new_SOAP_ENV__Detail(soap, -1);
    if (soap->fault == nullptr || detail == nullptr) {
        return soap->error = SOAP_EOM;
    }
    soap->fault->faultcode = soap_strdup(soap, storeFault.m_result == product::kResultServerFault
                                                   ? "SOAP-ENV:Server"
                                                   : product::kRejectedFaultCode);
    soap->fault->faultstring = soap_strdup(soap, storeFault.m_faultString.c_str());
    detail->ns1__errorNumber = storeFault.m_errorNumber;
    detail->ns1__message = storeFault.m_message;
    detail->ns1__source = storeFault.m_source;
    detail->ns1__message2 = storeFault.m_message2;
    soap->fault->detail = detail;
    soap->errnum = 0;
    return soap->error = storeFault.m_result;
}

bool InitLibrary(const wchar_t* installDir) {
    if (installDir == nullptr || *installDir == L'\0') {
        return false;
    }
    std::error_code ec;
    if (!std::filesystem::is_directory(ToPath(installDir), ec)) {
        return false;
    }
    std::wstring iniPath = platform::AppendPath(
        installDir, platform::NativeRelativePath(L"Environment\\Config\\MxHelper.ini"));
    std::string endpoint;
    std::string text = ReadFileText(ToPath(iniPath), ec);
    if (ec && ec != std::errc::no_such_file_or_directory) {
        CMxhLogger::GetInstance()->Write(L"cannot read " + iniPath + L": " +
                                         platform::LocaleToWide(ec.message()));
        return false;
    }
    if (!ec) {
        endpoint = FindIniValue(text, "Server", "Endpoint").value_or(std::string());
    }

    std::unique_ptr<struct soap, SoapFree> client(soap_new());
    if (client == nullptr) {
        return false;
    }
    // Narrow texts travel as UTF-8.
    soap_set_mode(client.get(), SOAP_C_UTFSTRING);
    auto store = std::make_shared<CProductStore>(ToPath(installDir));

    std::lock_guard<std::mutex> guard(g_stateLock);
    g_state.client = std::move(client);
    g_state.endpoint = std::move(endpoint);
    g_state.store = std::move(store);
    return true;
}

// The operations are called like C functions: no exception leaves them. Running out of memory
// gives SOAP_EOM, anything else SOAP_ERR.
template <typename Body>
int Guarded(struct soap* soap, Body&& body) {
    try {
        return body();
    } catch (const std::bad_alloc&) {
        return soap->error = SOAP_EOM;
    } catch (...) {
        return soap->error = SOAP_ERR;
    }
}

}  // namespace

bool Mxh_Init(const wchar_t* installDir, bool /*reserved*/) {
    Mxh_Fini();
    try {
        return InitLibrary(installDir);
    } catch (const std::exception&) {
        return false;
    }
}

void Mxh_Fini() {
    HelperState old;
    {
        std::lock_guard<std::mutex> guard(g_stateLock);
        old = std::move(g_state);
        g_state = HelperState();
    }
}

struct soap* Mxh_GetClientSoapObj() {
    std::lock_guard<std::mutex> guard(g_stateLock);
    return g_state.client.get();
}

bool Mxh_SetPrivilege() {
    return true;
}

std::wstring Mxh_GetMessageW(int number) {
    return HelperMessageText(number);
}

std::string Mxh_GetMessageA(int number) {
    return platform::WideToUtf8(HelperMessageText(number));
}

int ns1__Login(struct soap* soap, char* account, char* password,
               struct ns1__LoginResponse* response) {
    if (soap == nullptr) {
        return SOAP_FATAL_ERROR;
    }
    return Guarded(soap, [&] {
        Target target = CurrentTarget();
        if (!target.ready) {
            return soap->error = SOAP_FATAL_ERROR;
        }
        if (!target.endpoint.empty()) {
            ns1__LoginResponse ignored;
            return RemoteResult(
                soap, soap_call_ns1__Login(soap, target.endpoint.c_str(), nullptr, account,
                                           password, response != nullptr ? response : &ignored));
        }
        std::string session;
        CStoreFault fault;
        if (target.store->Login(account != nullptr ? account : "",
                                password != nullptr ? password : "", &session, &fault) != 0) {
            return LocalFault(soap, fault);
        }
        return LocalSuccess(soap, session);
    });
}

int ns1__GetAppConfig(struct soap* soap, wchar_t* section, ns1__Config* config) {
    if (soap == nullptr) {
        return SOAP_FATAL_ERROR;
    }
    return Guarded(soap, [&] {
        Target target = CurrentTarget();
        if (!target.ready) {
            return soap->error = SOAP_FATAL_ERROR;
        }
        if (!target.endpoint.empty()) {
            ns1__Config ignored;
            return RemoteResult(
                soap, soap_call_ns1__GetAppConfig(soap, target.endpoint.c_str(), nullptr, section,
                                                  config != nullptr ? config : &ignored));
        }
        std::vector<SectionItem> items;
        CStoreFault fault;
        if (target.store->GetAppConfig(RequestSession(soap), section != nullptr ? section : L"",
                                       &items, &fault) != 0) {
            return LocalFault(soap, fault);
        }
        if (config != nullptr) {
            config->item.clear();
            config->item.reserve(items.size());
            for (SectionItem& item : items) {
                ns1__ConfigItem configItem;
                configItem.name = std::move(item.first);
                configItem.value = std::move(item.second);
                config->item.push_back(std::move(configItem));
            }
        }
        return LocalSuccess(soap, RequestSession(soap));
    });
}

int ns1__Logoff(struct soap* soap, struct ns1__LogoffResponse* response) {
    if (soap == nullptr) {
        return SOAP_FATAL_ERROR;
    }
    return Guarded(soap, [&] {
        Target target = CurrentTarget();
        if (!target.ready) {
            return soap->error = SOAP_FATAL_ERROR;
        }
        if (!target.endpoint.empty()) {
            ns1__LogoffResponse ignored;
            return RemoteResult(soap,
                                soap_call_ns1__Logoff(soap, target.endpoint.c_str(), nullptr,
                                                      response != nullptr ? response : &ignored));
        }
        CStoreFault fault;
        if (target.store->Logoff(RequestSession(soap), &fault) != 0) {
            return LocalFault(soap, fault);
        }
        return LocalSuccess(soap, std::string());
    });
}
