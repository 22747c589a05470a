#include "settings/FilterList.h"

#include "settings/SettingLines.h"

std::vector<std::wstring> LoadFilterList(const std::wstring& path) {
    return ReadSettingLines(path, true);
}
