// Build tool: writes the code page 932 conversion tables that the trap renderer uses to turn
// UTF-8 and EUC-JP text into code page 932.
//
// Usage: GenerateCp932Tables OUTPUT_FILE
//
// One row per code position of code page 932, in code order: 0x20 to 0x7F, 0x80, 0xA0, 0xA1 to
// 0xDF, then the double-byte codes with lead bytes 0x81 to 0x9F and 0xE0 to 0xFC and trail bytes
// 0x40 to 0xFC (without 0x7F). Row n of the three tables holds the EUC-JP form, the code page 932
// form and the UTF-8 form of the same character; a code position that the code page leaves
// unassigned, or a character without an EUC-JP form, gets empty cells. An empty row ends each
// table. The forms come from the C library's iconv ("CP932", and "EUC-JP-MS", the EUC-JP variant
// that follows Microsoft's mapping, where it exists).
#include <iconv.h>

#include <cerrno>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <string>
#include <vector>

namespace {

class CIconv {
  public:
    CIconv(const char* to, const char* from) : m_cd(iconv_open(to, from)) {}
    ~CIconv() {
        if (IsOpen()) {
            iconv_close(m_cd);
        }
    }
    CIconv(const CIconv&) = delete;
    CIconv& operator=(const CIconv&) = delete;

    bool IsOpen() const { return m_cd != reinterpret_cast<iconv_t>(-1); }

    // The whole of `in` converted, or empty text when any of it cannot be converted.
    std::string Convert(const std::string& in) {
        iconv(m_cd, nullptr, nullptr, nullptr, nullptr);
        std::string source = in;
        char out[16];
        char* src = source.data();
        std::size_t srcLeft = source.size();
        char* dst = out;
        std::size_t dstLeft = sizeof out;
        if (iconv(m_cd, &src, &srcLeft, &dst, &dstLeft) == static_cast<std::size_t>(-1) ||
            srcLeft != 0 ||
            iconv(m_cd, nullptr, nullptr, &dst, &dstLeft) == static_cast<std::size_t>(-1)) {
            return {};
        }
        return std::string(out, sizeof out - dstLeft);
    }

  private:
    iconv_t m_cd;
};

struct Row {
    std::string eucJp;
    std::string cp932;
    std::string utf8;
};

std::vector<std::string> CodePositions() {
    std::vector<std::string> codes;
    for (int b = 0x20; b <= 0x7F; ++b) {
        codes.emplace_back(1, static_cast<char>(b));
    }
    codes.emplace_back(1, static_cast<char>(0x80));
    codes.emplace_back(1, static_cast<char>(0xA0));
    for (int b = 0xA1; b <= 0xDF; ++b) {
        codes.emplace_back(1, static_cast<char>(b));
    }
    for (int lead = 0x81; lead <= 0xFC; ++lead) {
        if (lead > 0x9F && lead < 0xE0) {
            continue;
        }
        for (int trail = 0x40; trail <= 0xFC; ++trail) {
            if (trail == 0x7F) {
                continue;
            }
            codes.push_back(std::string{static_cast<char>(lead), static_cast<char>(trail)});
        }
    }
    return codes;
}

std::string Cell(const std::string& bytes) {
    std::string text = "\"";
    char escape[8];
    for (unsigned char c : bytes) {
        std::snprintf(escape, sizeof escape, "\\x%02X", c);
        text += escape;
    }
    return text + "\"";
}

void WriteTable(std::ostream& out, const char* name, const std::vector<Row>& rows,
                std::string Row::*column) {
    out << "const char " << name << "[kCp932TableRows + 1][4] = {\n";
    for (const Row& row : rows) {
        out << "    " << Cell(row.*column) << ",\n";
    }
    out << "    \"\"};\n\n";
}

// Spot checks that catch an iconv without a usable code page 932.
bool LooksRight(const std::vector<Row>& rows) {
    auto find = [&](const std::string& cp932) -> const Row* {
        for (const Row& row : rows) {
            if (row.cp932 == cp932) {
                return &row;
            }
        }
        return nullptr;
    };
    const Row* a = find("A");
    const Row* hiraganaA = find("\x82\xA0");
    const Row* katakanaA = find("\xB1");
    return a != nullptr && a->utf8 == "A" && a->eucJp == "A" && hiraganaA != nullptr &&
           hiraganaA->utf8 == "\xE3\x81\x82" && hiraganaA->eucJp == "\xA4\xA2" &&
           katakanaA != nullptr && katakanaA->utf8 == "\xEF\xBD\xB1";
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::cerr << "usage: GenerateCp932Tables OUTPUT_FILE\n";
        return 2;
    }
    CIconv toUtf8("UTF-8", "CP932");
    CIconv toEucJp("EUC-JP-MS", "UTF-8");
    CIconv toPlainEucJp("EUC-JP", "UTF-8");
    CIconv& eucJp = toEucJp.IsOpen() ? toEucJp : toPlainEucJp;
    if (!toUtf8.IsOpen() || !eucJp.IsOpen()) {
        std::cerr << "GenerateCp932Tables: iconv knows no CP932 or EUC-JP conversion\n";
        return 1;
    }

    std::vector<Row> rows;
    for (const std::string& code : CodePositions()) {
        Row row;
        row.cp932 = code;
        row.utf8 = toUtf8.Convert(code);
        if (row.utf8.size() > 3) {
            row.utf8.clear();
        }
        if (!row.utf8.empty()) {
            row.eucJp = eucJp.Convert(row.utf8);
            if (row.eucJp.size() > 3) {
                row.eucJp.clear();
            }
        }
        rows.push_back(row);
    }
    if (!LooksRight(rows)) {
        std::cerr << "GenerateCp932Tables: iconv's code page 932 gives unexpected characters\n";
        return 1;
    }

    std::ofstream out(argv[1], std::ios::binary | std::ios::trunc);
    out << "// Generated by GenerateCp932Tables from the C library's code page 932. Do not edit.\n"
        << "// Rows in code page 932 order; row n of the three tables is one character.\n\n"
        << "constexpr std::size_t kCp932TableRows = " << rows.size() << ";\n\n";
    WriteTable(out, "kEucJpTable", rows, &Row::eucJp);
    WriteTable(out, "kCp932Table", rows, &Row::cp932);
    WriteTable(out, "kUtf8Table", rows, &Row::utf8);
    out.close();
    if (!out) {
        std::cerr << "GenerateCp932Tables: cannot write " << argv[1] << "\n";
        return 1;
    }
    return 0;
}
