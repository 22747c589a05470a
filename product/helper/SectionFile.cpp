#include "product/helper/SectionFile.h"

#include <fstream>
#include <iterator>

#include "platform/Text.h"

namespace {

bool IsUsableNamePart(std::wstring_view part) {
    if (part.empty() || part == L"." || part == L"..") {
        return false;
    }
    for (wchar_t c : part) {
        if (c < 0x20 || c == 0x7F ||
            std::wstring_view(L"<>:\"/|?*").find(c) != std::wstring_view::npos) {
            return false;
        }
    }
    return true;
}

}  // namespace

bool SectionFilePath(const std::filesystem::path& root, std::wstring_view section,
                     std::filesystem::path* path) {
    std::filesystem::path out = root;
    while (true) {
        std::size_t end = section.find(L'\\');
        std::wstring_view part = section.substr(0, end);
        if (!IsUsableNamePart(part)) {
            return false;
        }
        if (end == std::wstring_view::npos) {
            out /= platform::WideToLocale(part) + ".ini";
            break;
        }
        out /= platform::WideToLocale(part);
        section.remove_prefix(end + 1);
    }
    *path = std::move(out);
    return true;
}

std::vector<SectionItem> ParseSectionText(std::string_view text) {
    if (text.starts_with("\xEF\xBB\xBF")) {
        text.remove_prefix(3);
    }
    std::vector<SectionItem> items;
    while (!text.empty()) {
        std::size_t end = text.find('\n');
        std::string_view line = text.substr(0, end);
        text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
        if (line.ends_with('\r')) {
            line.remove_suffix(1);
        }
        if (line.starts_with(';')) {
            continue;
        }
        std::size_t equals = line.find('=');
        if (equals == std::string_view::npos) {
            continue;
        }
        items.emplace_back(platform::Utf8ToWide(line.substr(0, equals)),
                           platform::Utf8ToWide(line.substr(equals + 1)));
    }
    return items;
}

std::string ReadFileText(const std::filesystem::path& path, std::error_code& ec) {
    ec.clear();
    std::filesystem::file_status status = std::filesystem::status(path, ec);
    if (ec) {
        return {};
    }
    if (status.type() != std::filesystem::file_type::regular) {
        // A folder, or something that could block the reader (a FIFO, a device).
        ec = std::make_error_code(status.type() == std::filesystem::file_type::directory
                                      ? std::errc::is_a_directory
                                      : std::errc::invalid_argument);
        return {};
    }
    try {
        std::ifstream in(path, std::ios::binary);
        if (!in) {
            ec = std::make_error_code(std::errc::permission_denied);
            return {};
        }
        std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        if (in.bad()) {
            ec = std::make_error_code(std::errc::io_error);
            return {};
        }
        return text;
    } catch (const std::exception&) {
        // The stream reports some read errors by throwing.
        ec = std::make_error_code(std::errc::io_error);
        return {};
    }
}

std::vector<SectionItem> ReadSectionFile(const std::filesystem::path& path, std::error_code& ec) {
    std::string text = ReadFileText(path, ec);
    if (ec == std::errc::no_such_file_or_directory) {
        ec.clear();
        return {};
    }
    if (ec) {
        return {};
    }
    return ParseSectionText(text);
}
