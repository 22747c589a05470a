// The configuration holder: a SOAP context of its own, in which the configuration sections read
// from the product server are allocated, and the items of the sections loaded into it, by name.
#pragma once

#include <map>
#include <string>

#include "product/helper/Vorma6Helper.h"

class CConfig {
  public:
    CConfig() = default;
    // Frees the context's call data, then empties the map.
    virtual ~CConfig();
    CConfig(const CConfig&) = delete;
    CConfig& operator=(const CConfig&) = delete;

    // The context that owns the sections (soap_new_ns1__Config).
    struct soap* Context() {
        return &m_soap;
    }

    // Copies every item into the map; a name already there keeps its value, so the first value of
    // a name wins. The map is not emptied first.
    void Load(const ns1__Config& config);

    // The value of `name` (case-sensitive), or empty text.
    std::wstring Get(const std::wstring& name) const;

    const std::map<std::wstring, std::wstring>& Items() const { return m_items; }

  private:
    // Initialised by soap_init at construction, released by soap_done at destruction (gSOAP's
    // own constructor and destructor of the context).
    struct soap m_soap;
    std::map<std::wstring, std::wstring> m_items;
};
