#include "platform/CommandLine.h"

namespace platform {

std::vector<std::wstring> SplitCommandLine(std::wstring_view line) {
    std::vector<std::wstring> args;
    std::wstring current;
    bool inToken = false;  // a token has begun (it may still be empty: "")
    bool quoted = false;
    std::size_t i = 0;
    while (i < line.size()) {
        wchar_t c = line[i];
        if (c == L'\\') {
            std::size_t run = 0;
            while (i + run < line.size() && line[i + run] == L'\\') {
                ++run;
            }
            inToken = true;
            if (i + run < line.size() && line[i + run] == L'"') {
                current.append(run / 2, L'\\');
                if (run % 2 == 1) {
                    current.push_back(L'"');
                    i += run + 1;
                } else {
                    i += run;  // the quote toggles quoting below
                }
            } else {
                current.append(run, L'\\');
                i += run;
            }
            continue;
        }
        if (c == L'"') {
            quoted = !quoted;
            inToken = true;
            ++i;
            continue;
        }
        if (c == L' ' && !quoted) {
            if (inToken) {
                args.push_back(std::move(current));
                current.clear();
                inToken = false;
            }
            ++i;
            continue;
        }
        current.push_back(c);
        inToken = true;
        ++i;
    }
    if (inToken) {
        args.push_back(std::move(current));
    }
    return args;
}

std::wstring QuoteCommandLineArgument(std::wstring_view argument) {
    if (!argument.empty() && argument.find_first_of(L" \"") == std::wstring_view::npos) {
        return std::wstring(argument);
    }
    std::wstring out = L"\"";
    std::size_t backslashes = 0;
    for (wchar_t c : argument) {
        if (c == L'\\') {
            ++backslashes;
            continue;
        }
        if (c == L'"') {
            out.append(backslashes * 2 + 1, L'\\');
        } else {
            out.append(backslashes, L'\\');
        }
        backslashes = 0;
        out.push_back(c);
    }
    out.append(backslashes * 2, L'\\');
    out.push_back(L'"');
    return out;
}

}  // namespace platform
