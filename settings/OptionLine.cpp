#include "settings/OptionLine.h"

#include "platform/CommandLine.h"

namespace {

// One token of a line as it is written: where it starts and ends in the line, and for each
// character of the token (after quotes and escapes are taken out) where it stands in the line.
struct RawToken {
    std::size_t begin = 0;
    std::size_t end = 0;
    std::wstring text;
    std::vector<std::size_t> positions;
    // Quoting state in force before each character of `text`.
    std::vector<bool> quotedAt;
};

// The same rules as platform::SplitCommandLine, keeping the positions in the line.
std::vector<RawToken> ScanTokens(std::wstring_view line) {
    std::vector<RawToken> tokens;
    RawToken current;
    bool inToken = false;
    bool quoted = false;
    auto put = [&](wchar_t c, std::size_t at) {
        current.text.push_back(c);
        current.positions.push_back(at);
        current.quotedAt.push_back(quoted);
    };
    auto begin = [&](std::size_t at) {
        if (!inToken) {
            inToken = true;
            current.begin = at;
        }
    };
    std::size_t i = 0;
    while (i < line.size()) {
        wchar_t c = line[i];
        if (c == L'\\') {
            begin(i);
            std::size_t run = 0;
            while (i + run < line.size() && line[i + run] == L'\\') {
                ++run;
            }
            if (i + run < line.size() && line[i + run] == L'"') {
                for (std::size_t k = 0; k < run / 2; ++k) {
                    put(L'\\', i + 2 * k);
                }
                if (run % 2 == 1) {
                    put(L'"', i + run);
                    i += run + 1;
                } else {
                    i += run;
                }
            } else {
                for (std::size_t k = 0; k < run; ++k) {
                    put(L'\\', i + k);
                }
                i += run;
            }
            continue;
        }
        if (c == L'"') {
            begin(i);
            quoted = !quoted;
            ++i;
            continue;
        }
        if (c == L' ' && !quoted) {
            if (inToken) {
                current.end = i;
                tokens.push_back(std::move(current));
                current = RawToken();
                inToken = false;
            }
            ++i;
            continue;
        }
        begin(i);
        put(c, i);
        ++i;
    }
    if (inToken) {
        current.end = line.size();
        tokens.push_back(std::move(current));
    }
    return tokens;
}

bool IsOptionLead(wchar_t c) {
    return c == L'-' || c == L'/';
}

// Splits an option token; `separator` receives the index in `token` of the colon that ends the
// name (npos when there is none).
bool SplitOption(std::wstring_view token, std::wstring& name, std::wstring& value,
                 std::size_t& separator) {
    if (token.empty() || !IsOptionLead(token.front())) {
        return false;
    }
    std::size_t start = 1;
    if (start < token.size() && IsOptionLead(token[start])) {
        ++start;
    }
    while (start < token.size() && token[start] == L':') {
        ++start;
    }
    separator = token.find(L':', start);
    if (separator == std::wstring_view::npos) {
        name.assign(token.substr(start));
        value.clear();
    } else {
        name.assign(token.substr(start, separator - start));
        value.assign(token.substr(separator + 1));
    }
    return true;
}

}  // namespace

OptionTokens SplitOptionLine(std::wstring_view line) {
    return platform::SplitCommandLine(line);
}

bool ParseOptionToken(std::wstring_view token, std::wstring& name, std::wstring& value) {
    std::size_t separator = 0;
    return SplitOption(token, name, value, separator);
}

int FindOption(std::wstring_view name, const OptionTokens& tokens) {
    if (name.empty()) {
        return -1;
    }
    std::wstring tokenName;
    std::wstring value;
    for (std::size_t i = 0; i < tokens.size(); ++i) {
        if (ParseOptionToken(tokens[i], tokenName, value) && tokenName == name) {
            return static_cast<int>(i);
        }
    }
    return -1;
}

std::wstring GetOptionValue(std::wstring_view name, const OptionTokens& tokens) {
    int index = FindOption(name, tokens);
    if (index < 0) {
        return {};
    }
    std::wstring tokenName;
    std::wstring value;
    ParseOptionToken(tokens[static_cast<std::size_t>(index)], tokenName, value);
    return value;
}

bool HasReservedChar(std::wstring_view value) {
    return value.find_first_of(L"\\\"<>|&% ^") != std::wstring_view::npos;
}

std::wstring MaskPlainPassPhrases(std::wstring_view line) {
    std::wstring masked;
    std::size_t copied = 0;
    std::wstring name;
    std::wstring value;
    for (const RawToken& token : ScanTokens(line)) {
        std::size_t separator = 0;
        if (!SplitOption(token.text, name, value, separator) || (name != L"AP" && name != L"XP") ||
            separator == std::wstring::npos) {
            continue;
        }
        // Everything written after the colon, quotes and backslashes included, is the value.
        std::size_t valueBegin = token.positions[separator] + 1;
        masked.append(line.substr(copied, valueBegin - copied));
        masked.append(kMaskedPassPhrase);
        if (token.quotedAt[separator]) {
            masked.push_back(L'"');  // the closing quote went with the value
        }
        copied = token.end;
    }
    masked.append(line.substr(copied));
    return masked;
}
