#include "platform/RegFile.h"

#include <algorithm>
#include <array>
#include <cwctype>
#include <numeric>
#include <optional>

#include "platform/Text.h"

namespace platform {
namespace {

constexpr std::uint32_t kTypeSz = 1;
constexpr std::uint32_t kTypeBinary = 3;
constexpr std::uint32_t kTypeDword = 4;
constexpr std::size_t kNone = static_cast<std::size_t>(-1);
// Hex lines are continued before they pass this column, as the registry editor does.
constexpr std::size_t kHexLineWidth = 80;

constexpr std::array<std::wstring_view, 5> kRootNames = {L"HKEY_LOCAL_MACHINE",
                                                         L"HKEY_CURRENT_USER", L"HKEY_CLASSES_ROOT",
                                                         L"HKEY_USERS", L"HKEY_CURRENT_CONFIG"};

wchar_t FoldChar(wchar_t c) {
    if (c < 0x80) {
        return (c >= L'a' && c <= L'z') ? static_cast<wchar_t>(c - L'a' + L'A') : c;
    }
    return static_cast<wchar_t>(std::towupper(static_cast<std::wint_t>(c)));
}

// Folding maps every character to exactly one character, so a folded text has the length of the
// original and prefixes line up.
std::wstring Fold(std::wstring_view text) {
    std::wstring out(text.size(), L'\0');
    std::transform(text.begin(), text.end(), out.begin(), FoldChar);
    return out;
}

bool IsSameOrBelow(std::wstring_view folded, std::wstring_view foldedAncestor) {
    if (folded.size() == foldedAncestor.size()) {
        return folded == foldedAncestor;
    }
    return folded.size() > foldedAncestor.size() && folded[foldedAncestor.size()] == L'\\' &&
           folded.substr(0, foldedAncestor.size()) == foldedAncestor;
}

std::string_view TrimLeft(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) {
        s.remove_prefix(1);
    }
    return s;
}

std::string_view TrimRight(std::string_view s) {
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r')) {
        s.remove_suffix(1);
    }
    return s;
}

bool StartsWithNoCase(std::string_view s, std::string_view prefix) {
    if (s.size() < prefix.size()) {
        return false;
    }
    for (std::size_t i = 0; i < prefix.size(); ++i) {
        char c = s[i];
        if (c >= 'A' && c <= 'Z') {
            c = static_cast<char>(c - 'A' + 'a');
        }
        if (c != prefix[i]) {
            return false;
        }
    }
    return true;
}

int HexDigit(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return -1;
}

// 1 to 8 hex digits.
std::optional<std::uint32_t> ParseHexNumber(std::string_view s) {
    if (s.empty() || s.size() > 8) {
        return std::nullopt;
    }
    std::uint32_t value = 0;
    for (char c : s) {
        int d = HexDigit(c);
        if (d < 0) {
            return std::nullopt;
        }
        value = (value << 4) | static_cast<std::uint32_t>(d);
    }
    return value;
}

// "41,00,42,00": bytes of one or two hex digits separated by commas; empty text is no bytes.
std::optional<std::vector<std::uint8_t>> ParseHexBytes(std::string_view s) {
    std::vector<std::uint8_t> bytes;
    s = TrimRight(TrimLeft(s));
    if (s.empty()) {
        return bytes;
    }
    while (true) {
        std::size_t comma = s.find(',');
        std::string_view item = TrimRight(TrimLeft(s.substr(0, comma)));
        if (item.empty() || item.size() > 2) {
            return std::nullopt;
        }
        auto value = ParseHexNumber(item);
        if (!value) {
            return std::nullopt;
        }
        bytes.push_back(static_cast<std::uint8_t>(*value));
        if (comma == std::string_view::npos) {
            return bytes;
        }
        s.remove_prefix(comma + 1);
    }
}

// Reads a quoted text at the start of `s` ("\\" and "\"" are its escapes) and removes it from
// `s`. Returns null with `error` set when it is not well formed.
std::optional<std::string> TakeQuoted(std::string_view* s, std::wstring* error) {
    std::string out;
    std::size_t i = 1;  // past the opening quote
    while (i < s->size()) {
        char c = (*s)[i];
        if (c == '"') {
            s->remove_prefix(i + 1);
            return out;
        }
        if (c == '\\') {
            if (i + 1 >= s->size() || ((*s)[i + 1] != '\\' && (*s)[i + 1] != '"')) {
                *error = L"a backslash inside quotes must be written \\\\ (or \\\" for a quote)";
                return std::nullopt;
            }
            out.push_back((*s)[i + 1]);
            i += 2;
            continue;
        }
        out.push_back(c);
        ++i;
    }
    *error = L"a quoted text has no closing quote";
    return std::nullopt;
}

std::string Quote(std::wstring_view text) {
    std::string utf8 = WideToUtf8(text);
    std::string out = "\"";
    for (char c : utf8) {
        if (c == '\\' || c == '"') {
            out.push_back('\\');
        }
        out.push_back(c);
    }
    out.push_back('"');
    return out;
}

void AppendUtf8(std::string* out, std::uint32_t c) {
    if (c < 0x80) {
        out->push_back(static_cast<char>(c));
    } else if (c < 0x800) {
        out->push_back(static_cast<char>(0xC0 | (c >> 6)));
        out->push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else if (c < 0x10000) {
        out->push_back(static_cast<char>(0xE0 | (c >> 12)));
        out->push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
        out->push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else {
        out->push_back(static_cast<char>(0xF0 | (c >> 18)));
        out->push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
        out->push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
        out->push_back(static_cast<char>(0x80 | (c & 0x3F)));
    }
}

// UTF-16LE bytes (after the byte-order mark) as UTF-8. An unpaired surrogate becomes the byte
// 0xFF, which no UTF-8 text holds, so that its line is reported rather than read with a
// replacement character; an odd last byte is left out and `oddByte` set.
std::string Utf16LeToUtf8(std::string_view bytes, bool* oddByte) {
    std::string out;
    out.reserve(bytes.size());
    *oddByte = bytes.size() % 2 != 0;
    const std::size_t units = bytes.size() / 2;
    auto unit = [&bytes](std::size_t i) {
        return static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[2 * i])) |
               (static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[2 * i + 1])) << 8);
    };
    for (std::size_t i = 0; i < units; ++i) {
        const std::uint32_t u = unit(i);
        if (u >= 0xD800 && u <= 0xDBFF && i + 1 < units && unit(i + 1) >= 0xDC00 &&
            unit(i + 1) <= 0xDFFF) {
            AppendUtf8(&out, 0x10000 + ((u - 0xD800) << 10) + (unit(i + 1) - 0xDC00));
            ++i;
        } else if (u >= 0xD800 && u <= 0xDFFF) {
            out.push_back('\xFF');
        } else {
            AppendUtf8(&out, u);
        }
    }
    return out;
}

bool IsValidUtf8(std::string_view text) {
    for (unsigned char c : text) {
        if (c >= 0x80) {
            return WideToUtf8(Utf8ToWide(text)) == text;
        }
    }
    return true;
}

// The text of REG_SZ data when it can be written in quotes and read back to the same bytes: a
// well-formed UTF-16 text with one terminator and no line breaks.
std::optional<std::wstring> QuotableText(const std::vector<std::uint8_t>& data) {
    if (data.size() < 2 || data.size() % 2 != 0 || data[data.size() - 1] != 0 ||
        data[data.size() - 2] != 0) {
        return std::nullopt;
    }
    std::wstring text = Utf16LeToWide(data.data(), data.size() - 2);
    if (text.find_first_of(std::wstring_view(L"\0\r\n", 3)) != std::wstring::npos) {
        return std::nullopt;
    }
    std::vector<std::uint8_t> back = WideToUtf16Le(text);
    if (back.size() != data.size() - 2 || !std::equal(back.begin(), back.end(), data.begin())) {
        return std::nullopt;
    }
    // Where wchar_t holds UTF-16 an unpaired surrogate survives the conversion above, but not the
    // UTF-8 of the file.
    if (Utf8ToWide(WideToUtf8(text)) != text) {
        return std::nullopt;
    }
    return text;
}

void AppendHex(std::string* out, std::string_view prefix, const std::vector<std::uint8_t>& data) {
    static constexpr char kDigits[] = "0123456789abcdef";
    std::size_t column = prefix.size();
    out->append(prefix);
    for (std::size_t i = 0; i < data.size(); ++i) {
        bool last = i + 1 == data.size();
        // Room for "xx," and the continuation backslash.
        if (column + 4 > kHexLineWidth && i > 0) {
            out->append("\\\n  ");
            column = 2;
        }
        out->push_back(kDigits[data[i] >> 4]);
        out->push_back(kDigits[data[i] & 0xF]);
        column += 2;
        if (!last) {
            out->push_back(',');
            ++column;
        }
    }
}

void AppendValue(std::string* out, const RegFileValue& value) {
    std::string prefix = value.name.empty() ? std::string("@=") : Quote(value.name) + "=";
    if (value.type == kTypeSz) {
        if (auto text = QuotableText(value.data)) {
            out->append(prefix);
            out->append(Quote(*text));
            out->push_back('\n');
            return;
        }
    } else if (value.type == kTypeDword && value.data.size() == 4) {
        std::uint32_t n = static_cast<std::uint32_t>(value.data[0]) |
                          (static_cast<std::uint32_t>(value.data[1]) << 8) |
                          (static_cast<std::uint32_t>(value.data[2]) << 16) |
                          (static_cast<std::uint32_t>(value.data[3]) << 24);
        static constexpr char kDigits[] = "0123456789abcdef";
        out->append(prefix);
        out->append("dword:");
        for (int shift = 28; shift >= 0; shift -= 4) {
            out->push_back(kDigits[(n >> shift) & 0xF]);
        }
        out->push_back('\n');
        return;
    }
    if (value.type == kTypeBinary) {
        prefix += "hex:";
    } else {
        static constexpr char kDigits[] = "0123456789abcdef";
        std::string type;
        std::uint32_t t = value.type;
        do {
            type.insert(type.begin(), kDigits[t & 0xF]);
            t >>= 4;
        } while (t != 0);
        prefix += "hex(" + type + "):";
    }
    AppendHex(out, prefix, value.data);
    out->push_back('\n');
}

// Checks a block's key path: root name first, no empty parts, no control characters. Returns the
// path with its root name in the canonical (upper) case, or null with `error` set.
std::optional<std::wstring> CheckKeyPath(std::wstring_view path, std::wstring* error) {
    for (wchar_t c : path) {
        if (static_cast<std::uint32_t>(c) < 0x20) {
            *error = L"a key name holds a control character";
            return std::nullopt;
        }
    }
    std::size_t slash = path.find(L'\\');
    std::wstring_view root = path.substr(0, slash);
    auto known = std::find_if(kRootNames.begin(), kRootNames.end(), [root](std::wstring_view r) {
        return CRegFile::NamesEqual(r, root);
    });
    if (known == kRootNames.end()) {
        *error = L"the key does not start with a registry root such as HKEY_LOCAL_MACHINE";
        return std::nullopt;
    }
    if (slash != std::wstring_view::npos) {
        std::wstring_view rest = path.substr(slash + 1);
        if (rest.empty() || rest.front() == L'\\' || rest.back() == L'\\' ||
            rest.find(L"\\\\") != std::wstring_view::npos) {
            *error = L"the key path has an empty name between backslashes";
            return std::nullopt;
        }
    }
    std::wstring out(*known);
    if (slash != std::wstring_view::npos) {
        out.append(path.substr(slash));
    }
    return out;
}

}  // namespace

bool CRegFile::NamesEqual(std::wstring_view a, std::wstring_view b) {
    if (a.size() != b.size()) {
        return false;
    }
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (FoldChar(a[i]) != FoldChar(b[i])) {
            return false;
        }
    }
    return true;
}

bool CRegFile::IsRootName(std::wstring_view name) {
    return std::any_of(kRootNames.begin(), kRootNames.end(),
                       [name](std::wstring_view r) { return NamesEqual(r, name); });
}

void CRegFile::AddProblem(std::size_t line, std::wstring message) {
    m_problems.push_back(RegFileProblem{line, std::move(message)});
}

CRegFile CRegFile::Parse(std::string_view bytes) {
    CRegFile file;
    // The registry editor exports UTF-16LE with a byte-order mark; files written here are UTF-8
    // (a byte-order mark is allowed).
    std::string converted;
    std::string_view text = bytes;
    if (text.substr(0, 2) == "\xFF\xFE") {
        bool oddByte = false;
        converted = Utf16LeToUtf8(text.substr(2), &oddByte);
        text = converted;
        file.m_utf16 = true;
        if (oddByte) {
            file.AddProblem(1,
                            L"the UTF-16 file ends in half a character (an odd number of bytes)");
        }
    } else if (text.substr(0, 3) == "\xEF\xBB\xBF") {
        text.remove_prefix(3);
    }
    std::size_t lineNumber = 0;
    std::size_t current = kNone;
    bool skipping = false;
    bool first = true;
    while (!text.empty()) {
        // One logical line: physical lines joined while they end in a backslash.
        std::size_t startLine = lineNumber + 1;
        std::string logical;
        bool continued = true;
        while (continued && !text.empty()) {
            std::size_t end = text.find('\n');
            std::string_view physical = text.substr(0, end);
            text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
            ++lineNumber;
            physical = TrimRight(physical);
            if (!logical.empty()) {
                physical = TrimLeft(physical);
            }
            continued = !physical.empty() && physical.back() == '\\';
            if (continued) {
                physical.remove_suffix(1);
            }
            logical.append(physical);
        }
        if (continued) {
            file.AddProblem(lineNumber, L"the last line ends in a backslash but nothing follows");
        }
        if (first) {
            first = false;
            if (TrimLeft(logical) == kHeader) {
                continue;
            }
            file.AddProblem(startLine, L"the file does not begin with the line \"" +
                                           Utf8ToWide(kHeader) + L"\"");
        }
        file.ParseLine(TrimLeft(logical), startLine, &current, &skipping);
    }
    if (first) {
        file.AddProblem(
            1, L"the file is empty; it must begin with the line \"" + Utf8ToWide(kHeader) + L"\"");
    }
    return file;
}

void CRegFile::ParseLine(std::string_view line, std::size_t lineNumber, std::size_t* current,
                         bool* skipping) {
    if (line.empty()) {
        *current = kNone;
        *skipping = false;
        return;
    }
    if (line.front() == ';') {
        return;
    }
    if (!IsValidUtf8(line)) {
        AddProblem(lineNumber,
                   m_utf16 ? L"the line is not valid UTF-16" : L"the line is not valid UTF-8");
        if (line.front() == '[') {
            *current = kNone;
            *skipping = true;
        }
        return;
    }
    if (line.front() == '[') {
        *current = kNone;
        *skipping = true;  // until the block's key has been accepted
        if (line.back() != ']') {
            AddProblem(lineNumber, L"a key line must end with \"]\"");
            return;
        }
        std::string_view inner = line.substr(1, line.size() - 2);
        if (!inner.empty() && inner.front() == '-') {
            AddProblem(lineNumber, L"a key deletion ([-...]) cannot be part of a stored registry");
            return;
        }
        std::wstring error;
        auto path = CheckKeyPath(Utf8ToWide(inner), &error);
        if (!path) {
            AddProblem(lineNumber, error);
            return;
        }
        RegFileKey* existing = FindBlock(*path);
        if (existing != nullptr) {
            *current = static_cast<std::size_t>(existing - m_keys.data());
        } else {
            AddBlock(std::move(*path));
            *current = m_keys.size() - 1;
        }
        *skipping = false;
        return;
    }
    if (line.front() != '"' && line.front() != '@') {
        AddProblem(lineNumber, L"the line is neither a [key], a \"value\"=data line nor a comment");
        return;
    }
    if (*current == kNone) {
        if (!*skipping) {
            AddProblem(lineNumber, L"a value line outside a [key] block");
        }
        return;
    }

    RegFileValue value;
    std::wstring error;
    std::string_view rest = line;
    if (rest.front() == '@') {
        rest.remove_prefix(1);
    } else {
        auto name = TakeQuoted(&rest, &error);
        if (!name) {
            AddProblem(lineNumber, L"value name: " + error);
            return;
        }
        value.name = Utf8ToWide(*name);
        if (value.name.empty()) {
            AddProblem(lineNumber, L"an empty value name must be written @");
            return;
        }
    }
    rest = TrimLeft(rest);
    if (rest.empty() || rest.front() != '=') {
        AddProblem(lineNumber, L"the value name must be followed by \"=\"");
        return;
    }
    rest = TrimLeft(rest.substr(1));
    if (!rest.empty() && rest.front() == '"') {
        auto text = TakeQuoted(&rest, &error);
        if (!text) {
            AddProblem(lineNumber, L"value data: " + error);
            return;
        }
        if (!TrimLeft(rest).empty()) {
            AddProblem(lineNumber, L"text follows the closing quote of the value data");
            return;
        }
        value.type = kTypeSz;
        value.data = WideToUtf16Le(Utf8ToWide(*text));
        value.data.push_back(0);
        value.data.push_back(0);
    } else if (StartsWithNoCase(rest, "dword:")) {
        auto number = ParseHexNumber(rest.substr(6));
        if (!number) {
            AddProblem(lineNumber, L"dword: must be followed by 1 to 8 hex digits");
            return;
        }
        value.type = kTypeDword;
        for (int i = 0; i < 4; ++i) {
            value.data.push_back(static_cast<std::uint8_t>((*number >> (8 * i)) & 0xFFu));
        }
    } else if (StartsWithNoCase(rest, "hex")) {
        rest.remove_prefix(3);
        value.type = kTypeBinary;
        if (!rest.empty() && rest.front() == '(') {
            std::size_t close = rest.find(')');
            auto type = close == std::string_view::npos ? std::nullopt
                                                        : ParseHexNumber(rest.substr(1, close - 1));
            if (!type) {
                AddProblem(lineNumber, L"hex( must be followed by a hex type number and \")\"");
                return;
            }
            value.type = *type;
            rest.remove_prefix(close + 1);
        }
        if (rest.empty() || rest.front() != ':') {
            AddProblem(lineNumber, L"hex data must start with \"hex:\" or \"hex(N):\"");
            return;
        }
        auto bytes = ParseHexBytes(rest.substr(1));
        if (!bytes) {
            AddProblem(lineNumber, L"hex data must be bytes of two hex digits separated by commas");
            return;
        }
        value.data = std::move(*bytes);
    } else if (rest == "-") {
        AddProblem(lineNumber, L"a value deletion (=-) cannot be part of a stored registry");
        return;
    } else {
        AddProblem(lineNumber, L"the value data must be \"text\", dword:, hex: or hex(N):");
        return;
    }

    RegFileKey& key = m_keys[*current];
    auto same = std::find_if(key.values.begin(), key.values.end(),
                             [&](const RegFileValue& v) { return NamesEqual(v.name, value.name); });
    if (same != key.values.end()) {
        same->type = value.type;
        same->data = std::move(value.data);
    } else {
        key.values.push_back(std::move(value));
    }
}

std::string CRegFile::Serialize() const {
    // Tree order: parents first, siblings by name; a backslash sorts before every other character.
    std::vector<std::wstring> sortKeys;
    sortKeys.reserve(m_keys.size());
    for (const RegFileKey& key : m_keys) {
        std::wstring folded = Fold(key.path);
        std::replace(folded.begin(), folded.end(), L'\\', L'\x01');
        sortKeys.push_back(std::move(folded));
    }
    std::vector<std::size_t> order(m_keys.size());
    std::iota(order.begin(), order.end(), 0);
    std::stable_sort(order.begin(), order.end(),
                     [&](std::size_t a, std::size_t b) { return sortKeys[a] < sortKeys[b]; });

    std::string out(kHeader);
    out.append("\n\n");
    for (std::size_t index : order) {
        const RegFileKey& key = m_keys[index];
        out.push_back('[');
        out.append(WideToUtf8(key.path));
        out.append("]\n");
        for (const RegFileValue& value : key.values) {
            AppendValue(&out, value);
        }
        out.push_back('\n');
    }
    return out;
}

std::wstring CRegFile::DescribeProblems(std::wstring_view source) const {
    std::wstring out;
    for (const RegFileProblem& problem : m_problems) {
        out.append(source);
        out.append(L" line ");
        out.append(std::to_wstring(problem.line));
        out.append(L": ");
        out.append(problem.message);
        out.push_back(L'\n');
    }
    return out;
}

RegFileKey* CRegFile::FindBlock(std::wstring_view path) {
    auto it = std::find_if(m_keys.begin(), m_keys.end(),
                           [path](const RegFileKey& key) { return NamesEqual(key.path, path); });
    return it == m_keys.end() ? nullptr : &*it;
}

const RegFileKey* CRegFile::FindBlock(std::wstring_view path) const {
    return const_cast<CRegFile*>(this)->FindBlock(path);
}

RegFileKey& CRegFile::AddBlock(std::wstring path) {
    m_keys.push_back(RegFileKey{std::move(path), {}});
    return m_keys.back();
}

bool CRegFile::KeyExists(std::wstring_view path) const {
    std::wstring folded = Fold(path);
    return std::any_of(m_keys.begin(), m_keys.end(), [&folded](const RegFileKey& key) {
        return IsSameOrBelow(Fold(key.path), folded);
    });
}

std::wstring CRegFile::StoredCase(std::wstring_view path) const {
    std::wstring folded = Fold(path);
    for (const RegFileKey& key : m_keys) {
        if (IsSameOrBelow(Fold(key.path), folded)) {
            return key.path.substr(0, path.size());
        }
    }
    return std::wstring(path);
}

bool CRegFile::CreateKey(std::wstring_view path) {
    if (KeyExists(path)) {
        return false;
    }
    // Walk down from the first name below the root, taking the stored case of the parts that
    // exist, and add a block for every part that has none.
    std::wstring canonical;
    std::size_t pos = path.find(L'\\');
    canonical = path.substr(0, pos);
    while (pos != std::wstring_view::npos) {
        std::size_t next = path.find(L'\\', pos + 1);
        std::wstring prefix = canonical;
        prefix.append(path.substr(pos, next == std::wstring_view::npos ? next : next - pos));
        canonical = StoredCase(prefix);
        if (FindBlock(canonical) == nullptr) {
            AddBlock(canonical);
        }
        pos = next;
    }
    return true;
}

bool CRegFile::DeleteKeyTree(std::wstring_view path) {
    std::wstring folded = Fold(path);
    std::wstring parent;
    std::size_t slash = path.rfind(L'\\');
    bool found = false;
    for (const RegFileKey& key : m_keys) {
        if (IsSameOrBelow(Fold(key.path), folded)) {
            if (slash != std::wstring_view::npos) {
                parent = key.path.substr(0, slash);
            }
            found = true;
            break;
        }
    }
    if (!found) {
        return false;
    }
    std::erase_if(
        m_keys, [&folded](const RegFileKey& key) { return IsSameOrBelow(Fold(key.path), folded); });
    // The parent of a deleted key stays (unless it is the root itself, which has no block).
    if (!parent.empty() && parent.find(L'\\') != std::wstring::npos && !KeyExists(parent)) {
        AddBlock(parent);
    }
    return true;
}

const RegFileValue* CRegFile::FindValue(std::wstring_view path, std::wstring_view name) const {
    const RegFileKey* key = FindBlock(path);
    if (key == nullptr) {
        return nullptr;
    }
    auto it = std::find_if(key->values.begin(), key->values.end(),
                           [name](const RegFileValue& v) { return NamesEqual(v.name, name); });
    return it == key->values.end() ? nullptr : &*it;
}

bool CRegFile::SetValue(std::wstring_view path, const RegFileValue& value) {
    RegFileKey* key = FindBlock(path);
    if (key == nullptr) {
        if (!KeyExists(path)) {
            return false;
        }
        key = &AddBlock(StoredCase(path));
    }
    auto it = std::find_if(key->values.begin(), key->values.end(), [&value](const RegFileValue& v) {
        return NamesEqual(v.name, value.name);
    });
    if (it != key->values.end()) {
        it->type = value.type;
        it->data = value.data;
    } else {
        key->values.push_back(value);
    }
    return true;
}

}  // namespace platform
