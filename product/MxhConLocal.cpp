#include "product/MxhConLocal.h"

#include <vector>

CMxhConLocal::CMxhConLocal() {
    SetServerName("local");
}

CMxhConLocal::~CMxhConLocal() {
    if (!GetSession().empty()) {
        Logoff();
    }
}

int CMxhConLocal::Login(const std::string& account, const std::string& password) {
    // The library takes modifiable texts.
    std::vector<char> accountText(account.begin(), account.end());
    accountText.push_back('\0');
    std::vector<char> passwordText(password.begin(), password.end());
    passwordText.push_back('\0');
    return Forward([&](struct soap* soap) {
        return ns1__Login(soap, accountText.data(), passwordText.data(), nullptr);
    });
}

int CMxhConLocal::Logoff() {
    return Forward([](struct soap* soap) { return ns1__Logoff(soap, nullptr); });
}

int CMxhConLocal::GetAppConfig(wchar_t* section, ns1__Config* config) {
    return Forward([&](struct soap* soap) { return ns1__GetAppConfig(soap, section, config); });
}
