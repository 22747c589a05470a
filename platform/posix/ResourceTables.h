// POSIX only: the message and string tables that the build generates from
// reporter/resources/Messages.json (on Windows the same texts are the module's resources).
#pragma once

#include <cstddef>
#include <cstdint>

namespace platform::resources {

struct MessageEntry {
    std::uint32_t id;
    const wchar_t* english;
    const wchar_t* japanese;
};

struct StringEntry {
    std::uint32_t id;
    const wchar_t* text;
};

extern const MessageEntry kMessages[];
extern const std::size_t kMessageCount;
extern const StringEntry kStrings[];
extern const std::size_t kStringCount;

}  // namespace platform::resources
