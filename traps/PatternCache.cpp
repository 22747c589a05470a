#include "traps/PatternCache.h"

#include <algorithm>
#include <string_view>
#include <system_error>

#include "platform/StackThread.h"
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

constexpr std::size_t kWeightCap = std::size_t{1} << 30;

std::size_t SaturatingAdd(std::size_t a, std::size_t b) {
    return std::min(kWeightCap, a + b);
}

std::size_t SaturatingMultiply(std::size_t a, std::size_t b) {
    if (a == 0 || b == 0) {
        return 0;
    }
    return a > kWeightCap / b ? kWeightCap : a * b;
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
            const std::size_t perCharacter =
                SaturatingMultiply(StackWeight(pattern), kStackBytesPerUnit);
            compiled->inlineTextLimit =
                std::min(kInlineTextLimit, kCallerStackBudget / perCharacter);
            compiled->textLimit = kStackThreadBudget / perCharacter;
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
    // What the character before stands for. A quantifier applies to a character or to "."; one
    // that follows an anchor, the start or another quantifier (other than the "?" that makes it
    // lazy) is read by the library in ways of its own ("a+*" repeats "a+" as a whole, so it
    // matches every text): such a pattern is left to the matcher.
    enum class Last { kNothing, kCharacter, kAnyCharacter, kAnchor, kQuantifier, kLazyQuantifier };
    Last last = Last::kNothing;
    std::vector<std::wstring> words;
    std::wstring word;
    auto endWord = [&] {
        if (!word.empty()) {
            words.push_back(std::move(word));
        }
        word.clear();
    };
    for (wchar_t c : pattern) {
        if (c == L'*' || c == L'+' || c == L'?') {
            if (c == L'?' && last == Last::kQuantifier) {
                last = Last::kLazyQuantifier;
                continue;
            }
            if (last != Last::kCharacter && last != Last::kAnyCharacter) {
                return {};
            }
            if (last == Last::kCharacter && c != L'+') {
                word.pop_back();  // the character may be absent
            }
            endWord();
            last = Last::kQuantifier;
        } else if (c == L'^' || c == L'$') {
            endWord();
            last = Last::kAnchor;
        } else if (c == L'.') {
            endWord();
            last = Last::kAnyCharacter;
        } else {
            word.push_back(c);
            last = Last::kCharacter;
        }
    }
    endWord();
    return words;
}

std::size_t CPatternCache::StackWeight(const std::wstring& pattern) {
    // The weight of the sequence open at each group depth, and of the operand a counted
    // repetition would repeat.
    std::vector<std::size_t> open{0};
    std::size_t operand = 0;
    for (std::size_t i = 0; i < pattern.size(); ++i) {
        const wchar_t c = pattern[i];
        std::size_t atom = 1;
        if (c == L'\\') {
            ++i;  // the escaped character belongs to this atom
        } else if (c == L'[') {
            // A bracket expression is one atom; a "]" right after "[" or "[^" is its first member.
            std::size_t j = i + 1;
            if (j < pattern.size() && pattern[j] == L'^') {
                ++j;
            }
            if (j < pattern.size() && pattern[j] == L']') {
                ++j;
            }
            while (j < pattern.size() && pattern[j] != L']') {
                j += pattern[j] == L'\\' ? 2 : 1;
            }
            i = j;
        } else if (c == L'(') {
            open.push_back(1);  // the group's own state
            operand = 0;
            continue;
        } else if (c == L')' && open.size() > 1) {
            atom = SaturatingAdd(open.back(), 1);
            open.pop_back();
        } else if (c == L'{') {
            // "{n}", "{n,}", "{n,m}": the operand counts as often as it may be taken, once more
            // than its largest count (it is already counted once).
            std::size_t first = 0;
            std::size_t second = 0;
            bool comma = false;
            bool secondDigits = false;
            std::size_t j = i + 1;
            for (; j < pattern.size() && pattern[j] != L'}'; ++j) {
                const wchar_t d = pattern[j];
                if (d == L',') {
                    comma = true;
                } else if (d >= L'0' && d <= L'9') {
                    std::size_t& number = comma ? second : first;
                    number = std::min(kWeightCap, number * 10 + static_cast<std::size_t>(d - L'0'));
                    secondDigits = secondDigits || comma;
                }
            }
            const std::size_t count = comma && secondDigits ? second : first;
            i = j;
            open.back() = SaturatingAdd(open.back(), SaturatingMultiply(operand, count + 1));
            operand = 0;
            continue;
        }
        open.back() = SaturatingAdd(open.back(), atom);
        operand = atom;
    }
    std::size_t weight = 0;
    for (std::size_t part : open) {
        weight = SaturatingAdd(weight, part);
    }
    return std::max<std::size_t>(weight, 1);
}

bool CPatternCache::Compiled::Search(const std::wstring& text) const {
    if (literals.empty()) {
        for (const std::wstring& word : required) {
            if (text.find(word) == std::wstring::npos) {
                return false;
            }
        }
        if (text.size() <= inlineTextLimit) {
            return std::regex_search(text, regex);
        }
        if (linear) {
            return SearchLinear(text);
        }
        if (text.size() <= textLimit) {
            return SearchOnStackThread(text);
        }
        throw std::regex_error(std::regex_constants::error_stack);
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

bool CPatternCache::Compiled::SearchLinear(const std::wstring& text) const {
    // The leading "[\s\S]*?" finds a match at any position, so one attempt from the start
    // decides; further attempts from later positions would each cost another pass.
    return std::regex_search(text, *linear, std::regex_constants::match_continuous);
}

bool CPatternCache::Compiled::SearchOnStackThread(const std::wstring& text) const {
    // What the search throws (std::regex_error, std::bad_alloc) comes back here as it was thrown.
    bool found = false;
    const std::error_code ec = platform::RunOnStackThread(
        kStackThreadSize, [this, &text, &found] { found = std::regex_search(text, regex); });
    if (ec) {
        throw std::system_error(ec, "the search thread could not be started");
    }
    return found;
}

CPatternCache& CPatternCache::Shared() {
    static CPatternCache cache;
    return cache;
}
