// The white and black lists of the trap filter: FilterWhite.txt and FilterBlack.txt, one regular
// expression per line.
#pragma once

#include <string>
#include <vector>

inline constexpr wchar_t kFilterWhiteFile[] = L"Config\\FilterWhite.txt";
inline constexpr wchar_t kFilterBlackFile[] = L"Config\\FilterBlack.txt";

// The patterns of a filter list file in file order: every non-empty line exactly as written; a
// line longer than 1,024 characters is reported and left out. A missing file gives an empty list.
std::vector<std::wstring> LoadFilterList(const std::wstring& path);
