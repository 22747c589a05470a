#include "platform/RegFile.h"

#include <algorithm>
#include <numeric>
#include <optional>

#include "platform/RegFileSyntax.h"
#include "platform/Text.h"

namespace platform {

using namespace regfile;

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
