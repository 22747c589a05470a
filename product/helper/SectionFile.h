// Configuration sections kept as text files. The section "Environment\Config\SNMP_MANAGER" of a
// root folder is the file <root>/Environment/Config/SNMP_MANAGER.ini: UTF-8, one Name=Value per
// line in order, lines starting with ";" ignored. The value is everything after the first "=".
#pragma once

#include <filesystem>
#include <string>
#include <string_view>
#include <system_error>
#include <utility>
#include <vector>

using SectionItem = std::pair<std::wstring, std::wstring>;

// The file of `section` below `root`. False when the name could leave the root folder or is not
// a usable file name: it must be one or more parts separated by single backslashes, none of them
// empty, "." or "..", and none holding "/", control characters or the characters Windows refuses
// in file names.
bool SectionFilePath(const std::filesystem::path& root, std::wstring_view section,
                     std::filesystem::path* path);

// The items of a section file's text, in order. A line ends at LF; one CR before it is dropped. A
// UTF-8 byte-order mark at the start is skipped. Lines without "=" carry no item.
std::vector<SectionItem> ParseSectionText(std::string_view text);

// The whole content of a regular file. A missing file sets `ec` to no_such_file_or_directory; a
// folder or another kind of file, or a failed read, to another error. Never throws.
std::string ReadFileText(const std::filesystem::path& path, std::error_code& ec);

// Reads a section file. A missing file is an empty section (no error); any other failure to
// read it sets `ec`.
std::vector<SectionItem> ReadSectionFile(const std::filesystem::path& path, std::error_code& ec);
