// Compiled regular expressions of the white, black and level lists, kept per pattern text.
//
// The lists never change after start-up, so each pattern is compiled once instead of once for
// every text. A pattern that does not compile keeps its error text, so that every text that
// reaches it is still reported, exactly as if it had been compiled anew.
#pragma once

#include <memory>
#include <mutex>
#include <regex>
#include <string>
#include <unordered_map>

class CPatternCache {
  public:
    struct Compiled {
        std::wregex regex;
        bool valid = false;
        std::wstring error;  // the regular-expression facility's description when not valid
    };

    // The compiled form of `pattern` (ECMAScript, default options, case-sensitive).
    std::shared_ptr<const Compiled> Get(const std::wstring& pattern);

    // The cache shared by every dispatch thread and the Get pass of the process.
    static CPatternCache& Shared();

  private:
    // More distinct patterns than any list holds: past this the cache starts afresh, so a caller
    // that feeds it arbitrary texts cannot make it grow without bound.
    static constexpr std::size_t kMaxEntries = 4096;

    std::mutex m_mutex;
    std::unordered_map<std::wstring, std::shared_ptr<const Compiled>> m_entries;
};
