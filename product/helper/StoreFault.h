// The details of a request that the product server refused or could not serve: what goes into
// the fault it answers with.
#pragma once

#include <string>

class CStoreFault {
  public:
    // 2 (a server fault) or 12 (a refusal): the result the client sees.
    int m_result = 0;
    // UTF-8.
    std::string m_faultString;
    int m_errorNumber = 0;
    std::wstring m_message;
    std::wstring m_source;
    std::wstring m_message2;
};
