// A registry hive kept as text in the format that the Windows registry editor exports, read in
// UTF-8 (with or without a byte-order mark) or in UTF-16LE with its byte-order mark (the registry
// editor's own export), and written in UTF-8:
//
//   Windows Registry Editor Version 5.00
//
//   [HKEY_LOCAL_MACHINE\SOFTWARE\Quillon\VORMAW6]
//   "InstallDir"="C:\\Program Files\\VORMA\\"
//   "LCID"=dword:00000411
//   "EventMessageFile"=hex(2):43,00,3a,00,00,00
//   @="the default value"
//
// One block per key, ended by an empty line; "\\" and "\"" are the escapes inside quotes; a line
// that ends in a backslash goes on in the next line; lines starting with ";" are comments. Key and
// value names compare case-insensitively and keep the case they were stored with.
//
// Parsing never fails as a whole: a line that does not parse is recorded as a problem (with its
// line number) and skipped, everything else is kept. A caller must not write back a document that
// has problems, or the skipped lines would be lost.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace platform {

struct RegFileValue {
    std::wstring name;  // empty for the default value ("@")
    std::uint32_t type = 0;
    std::vector<std::uint8_t> data;
};

struct RegFileKey {
    std::wstring path;  // full path, root included: "HKEY_LOCAL_MACHINE\SOFTWARE\Quillon"
    std::vector<RegFileValue> values;
};

struct RegFileProblem {
    std::size_t line = 0;  // 1-based line number in the text
    std::wstring message;
};

class CRegFile {
  public:
    static constexpr std::string_view kHeader = "Windows Registry Editor Version 5.00";

    // Parses the bytes of a .reg file; see above for what happens to lines that do not parse.
    static CRegFile Parse(std::string_view bytes);

    // The document as .reg text: the header, then the keys in tree order (a parent before its
    // subkeys), long hex lines continued at about 80 columns as the registry editor does.
    std::string Serialize() const;

    const std::vector<RegFileProblem>& Problems() const { return m_problems; }
    bool HasProblems() const { return !m_problems.empty(); }
    // One line per problem: "<source> line N: message".
    std::wstring DescribeProblems(std::wstring_view source) const;

    const std::vector<RegFileKey>& Keys() const { return m_keys; }

    // A key exists when its block, or the block of one of its subkeys, exists.
    bool KeyExists(std::wstring_view path) const;

    // Adds the blocks of `path` and of each of its missing parents below the root (parts that
    // exist keep their stored case). Returns false, changing nothing, when the key exists.
    bool CreateKey(std::wstring_view path);

    // Removes `path` and all of its subkeys. Its parent keeps existing (a block is added for it
    // when it had none), as it would in a real registry. Returns false when the key does not exist.
    bool DeleteKeyTree(std::wstring_view path);

    // The value `name` of the key `path`, or null.
    const RegFileValue* FindValue(std::wstring_view path, std::wstring_view name) const;

    // Stores a value in the key `path` (replacing a value of the same name, keeping its place),
    // creating the key's block when the key had none. Returns false when the key does not exist.
    bool SetValue(std::wstring_view path, const RegFileValue& value);

    // Names compare as the registry compares them: case-insensitively.
    static bool NamesEqual(std::wstring_view a, std::wstring_view b);

    // The root names a block may start with.
    static bool IsRootName(std::wstring_view name);

  private:
    RegFileKey* FindBlock(std::wstring_view path);
    const RegFileKey* FindBlock(std::wstring_view path) const;
    RegFileKey& AddBlock(std::wstring path);
    std::wstring StoredCase(std::wstring_view path) const;
    // `current` is the index of the block that value lines go to: npos outside a block.
    void ParseLine(std::string_view line, std::size_t lineNumber, std::size_t* current,
                   bool* skipping);
    void AddProblem(std::size_t line, std::wstring message);

    std::vector<RegFileKey> m_keys;
    std::vector<RegFileProblem> m_problems;
    bool m_utf16 = false;  // the file was read as UTF-16LE
};

}  // namespace platform
