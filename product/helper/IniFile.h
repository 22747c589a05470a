// Reading a value from an INI text, as the helper library reads MxHelper.ini.
#pragma once

#include <optional>
#include <string>
#include <string_view>

// The value of `key` in the section `[section]` of `text` (UTF-8, an optional byte-order mark).
// As the Windows profile functions do: section and key names compare case-insensitively (ASCII),
// blanks around names and values are dropped, one pair of double quotes around a value is
// removed, the first occurrence wins, and lines starting with ";" are comments ("#" too).
std::optional<std::string> FindIniValue(std::string_view text, std::string_view section,
                                        std::string_view key);
