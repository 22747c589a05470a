#include "usmencrypt/SettingsLineFormat.h"

#include <string_view>

#include "platform/CommandLine.h"

namespace {

enum class Quoting {
    kPlain,   // written as it is unless the syntax needs quotes
    kQuoted,  // always in double quotes
};

enum class Presence {
    kOptional,  // left out when empty
    // Written even when empty: the readers need the option, and leaving it out would turn a line
    // they accept into one they reject.
    kRequired,
};

std::wstring QuotedValue(const std::wstring& value) {
    std::wstring quoted = platform::QuoteCommandLineArgument(value);
    if (!quoted.empty() && quoted.front() == L'"') {
        return quoted;  // empty, or holds a blank or a double quote: escaped already
    }
    // No quote inside: only the backslashes before the closing quote need doubling.
    std::size_t lastKept = value.find_last_not_of(L'\\');
    std::size_t trailing =
        lastKept == std::wstring::npos ? value.size() : value.size() - lastKept - 1;
    return L"\"" + value + std::wstring(trailing, L'\\') + L"\"";
}

void AppendOption(std::wstring& line, std::wstring_view name, const std::wstring& value,
                  Quoting quoting, Presence presence = Presence::kOptional) {
    if (value.empty() && presence == Presence::kOptional) {
        return;
    }
    if (!line.empty()) {
        line.push_back(L' ');
    }
    line.push_back(L'-');
    line.append(name);
    line.push_back(L':');
    if (quoting == Quoting::kQuoted) {
        line.append(QuotedValue(value));
    } else if (!value.empty()) {
        line.append(platform::QuoteCommandLineArgument(value));
    }
}

// -u: -e: -a: -A: -x: -X: of an SNMPv3 user, pass phrases enciphered.
bool AppendUsmOptions(std::wstring& line, const UsmEntry& entry, Presence engineId,
                      CPassPhraseCipher& cipher) {
    std::wstring authEnciphered;
    std::wstring privEnciphered;
    if (!cipher.Encipher(entry.authPassword, authEnciphered) ||
        !cipher.Encipher(entry.privPassword, privEnciphered)) {
        return false;
    }
    AppendOption(line, L"u", entry.userName, Quoting::kQuoted, Presence::kRequired);
    AppendOption(line, L"e", entry.engineId, Quoting::kPlain, engineId);
    AppendOption(line, L"a", entry.authProtocol, Quoting::kPlain);
    AppendOption(line, L"A", authEnciphered, Quoting::kQuoted);
    AppendOption(line, L"x", entry.privProtocol, Quoting::kPlain);
    AppendOption(line, L"X", privEnciphered, Quoting::kQuoted);
    return true;
}

}  // namespace

bool FormatGetOidLine(const GetOidEntry& entry, CPassPhraseCipher& cipher, std::wstring& line) {
    std::wstring out;
    AppendOption(out, L"v", entry.version, Quoting::kPlain, Presence::kRequired);
    if (entry.version == L"3") {
        // The community of an SNMPv3 request is not used, and not written.
        if (!AppendUsmOptions(out, entry.usm, Presence::kOptional, cipher)) {
            return false;
        }
    } else {
        AppendOption(out, L"c", entry.community, Quoting::kQuoted);
    }
    AppendOption(out, L"agent", entry.agent, Quoting::kPlain, Presence::kRequired);
    AppendOption(out, L"oid", entry.oid, Quoting::kPlain, Presence::kRequired);
    line = std::move(out);
    return true;
}

bool FormatUsmLine(const UsmEntry& entry, CPassPhraseCipher& cipher, std::wstring& line) {
    std::wstring out;
    if (!AppendUsmOptions(out, entry, Presence::kRequired, cipher)) {
        return false;
    }
    line = std::move(out);
    return true;
}
