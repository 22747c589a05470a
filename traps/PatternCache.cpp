#include "traps/PatternCache.h"

#include "platform/Text.h"

std::shared_ptr<const CPatternCache::Compiled> CPatternCache::Get(const std::wstring& pattern) {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        auto it = m_entries.find(pattern);
        if (it != m_entries.end()) {
            return it->second;
        }
    }
    // Compiled outside the lock: two threads may compile the same pattern once each, and the
    // second simply replaces the first.
    auto compiled = std::make_shared<Compiled>();
    try {
        compiled->regex.assign(pattern, std::regex_constants::ECMAScript);
        compiled->valid = true;
    } catch (const std::regex_error& e) {
        compiled->error = platform::LocaleToWide(e.what());
    } catch (const std::exception& e) {
        compiled->error = platform::LocaleToWide(e.what());
    }
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_entries.size() >= kMaxEntries) {
        m_entries.clear();
    }
    m_entries[pattern] = compiled;
    return compiled;
}

CPatternCache& CPatternCache::Shared() {
    static CPatternCache cache;
    return cache;
}
