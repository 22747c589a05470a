// The GET list file GetOIDList.txt: the SNMP GET requests of one pass of the Get cycle.
#pragma once

#include <string>
#include <vector>

#include "getpoll/GetOidEntry.h"

inline constexpr wchar_t kGetOidListFile[] = L"Config\\GetOIDList.txt";

// The accepted requests of the file in file order. Each rejected line is reported with its plain
// pass phrases (AP, XP) masked, and left out; a missing file gives no requests and no report.
std::vector<GetOidEntry> LoadGetOidList(const std::wstring& path);
