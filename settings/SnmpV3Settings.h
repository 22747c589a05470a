// The SNMPv3 receive settings file SnmpV3Setting.txt: one SNMPv3 user per line, in the
// option-line syntax, whose traps and informs the manager accepts.
#pragma once

#include <string>
#include <vector>

#include "settings/UsmEntry.h"

inline constexpr wchar_t kSnmpV3SettingFile[] = L"Config\\SnmpV3Setting.txt";

// The valid entries of the file in file order (engine ID required). Each invalid line is reported
// with its plain pass phrases (AP, XP) masked, and left out; a missing file gives no entries and
// no report.
std::vector<UsmEntry> LoadSnmpV3Settings(const std::wstring& path);
