#include "product/Config.h"

CConfig::~CConfig() {
    soap_delete(&m_soap, nullptr);
    soap_end(&m_soap);
    m_items.clear();
}

void CConfig::Load(const ns1__Config& config) {
    for (const ns1__ConfigItem& item : config.item) {
        m_items.emplace(item.name, item.value);
    }
}

std::wstring CConfig::Get(const std::wstring& name) const {
    auto it = m_items.find(name);
    return it != m_items.end() ? it->second : std::wstring();
}
