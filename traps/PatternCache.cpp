#include "traps/PatternCache.h"

#include <string_view>

#include "platform/Text.h"

namespace {

// Whether `pattern` may hold a lookahead. Such a pattern is kept from the one-pass search: the
// library runs a lookahead as a search of its own that starts at the lookahead's position and
// takes "^" and "\b" there as at the beginning of the text unless the outer search tells it that
// characters precede. The backtracking search tells it so for every attempt after the first
// position; the one-pass search makes a single attempt from the beginning, so it never would.
bool MayHoldLookahead(const std::wstring& pattern) {
    return pattern.find(L"(?=") != std::wstring::npos || pattern.find(L"(?!") != std::wstring::npos;
}

}  // namespace

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
        compiled->literals = LiteralAlternatives(pattern);
        if (compiled->literals.empty() && pattern.size() > 1) {
            std::wstring word = pattern;
            const bool atStart = word.front() == L'^';
            if (atStart) {
                word.erase(0, 1);
            }
            // "\\$" ends with an escaped dollar sign, which the word check below refuses.
            const bool atEnd = !word.empty() && word.back() == L'$';
            if (atEnd) {
                word.pop_back();
            }
            std::vector<std::wstring> literal = LiteralAlternatives(word);
            if ((atStart || atEnd) && literal.size() == 1) {
                compiled->literals = std::move(literal);
                compiled->atStart = atStart;
                compiled->atEnd = atEnd;
            }
        }
        if (compiled->literals.empty()) {
            compiled->required = RequiredWords(pattern);
            if (!MayHoldLookahead(pattern)) {
                try {
                    // The library's polynomial mode refuses a back-reference.
                    compiled->linear.emplace(
                        L"[\\s\\S]*?(?:" + pattern + L")",
                        std::regex_constants::ECMAScript | std::regex_constants::__polynomial);
                } catch (const std::regex_error&) {
                    compiled->linear.reset();
                }
            }
        }
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

std::vector<std::wstring> CPatternCache::LiteralAlternatives(const std::wstring& pattern) {
    static constexpr std::wstring_view kSpecial = L"^$\\.*+?()[]{}";
    std::vector<std::wstring> alternatives;
    std::size_t start = 0;
    while (true) {
        const std::size_t bar = pattern.find(L'|', start);
        std::wstring alternative =
            pattern.substr(start, bar == std::wstring::npos ? std::wstring::npos : bar - start);
        if (alternative.empty() || alternative.find_first_of(kSpecial) != std::wstring::npos) {
            return {};
        }
        alternatives.push_back(std::move(alternative));
        if (bar == std::wstring::npos) {
            return alternatives;
        }
        start = bar + 1;
    }
}

std::vector<std::wstring> CPatternCache::RequiredWords(const std::wstring& pattern) {
    if (pattern.find_first_of(L"\\|()[]{}") != std::wstring::npos) {
        return {};
    }
    std::vector<std::wstring> words;
    std::wstring word;
    for (wchar_t c : pattern) {
        if (c == L'*' || c == L'?') {
            // The character before may be absent.
            if (!word.empty()) {
                word.pop_back();
            }
        }
        if (c == L'^' || c == L'$' || c == L'.' || c == L'*' || c == L'+' || c == L'?') {
            if (!word.empty()) {
                words.push_back(std::move(word));
            }
            word.clear();
        } else {
            word.push_back(c);
        }
    }
    if (!word.empty()) {
        words.push_back(std::move(word));
    }
    return words;
}

bool CPatternCache::Compiled::Search(const std::wstring& text,
                                     std::size_t backtrackingLimit) const {
    if (literals.empty()) {
        for (const std::wstring& word : required) {
            if (text.find(word) == std::wstring::npos) {
                return false;
            }
        }
        if (text.size() <= backtrackingLimit) {
            return std::regex_search(text, regex);
        }
        if (!linear) {
            throw std::regex_error(std::regex_constants::error_stack);
        }
        // The leading "[\s\S]*?" finds a match at any position, so one attempt from the start
        // decides; further attempts from later positions would each cost another pass.
        return std::regex_search(text, *linear, std::regex_constants::match_continuous);
    }
    if (atStart || atEnd) {
        const std::wstring& word = literals.front();
        if (atStart && atEnd) {
            return text == word;
        }
        return atStart ? text.starts_with(word) : text.ends_with(word);
    }
    for (const std::wstring& literal : literals) {
        if (text.find(literal) != std::wstring::npos) {
            return true;
        }
    }
    return false;
}

CPatternCache& CPatternCache::Shared() {
    static CPatternCache cache;
    return cache;
}
