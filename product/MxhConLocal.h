// The connection the manager uses: CMxhCon with one forwarding operation per server operation,
// each a call of the helper library's operation through the connection's forwarding pattern.
#pragma once

#include <string>

#include "product/MxhCon.h"

class CMxhConLocal : public CMxhCon {
  public:
    // Server name "local". Throws as CMxhCon does.
    CMxhConLocal();
    // Logs off when a session is open.
    ~CMxhConLocal() override;

    int Login(const std::string& account, const std::string& password) override;
    int Logoff() override;
    int GetAppConfig(wchar_t* section, ns1__Config* config) override;
};
