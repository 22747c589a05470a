// The times that the viewer reads: the time of each record of the log (ISO 8601) and the times of
// --since and --until, which may also be relative to now.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

namespace tools {

// Seconds since the epoch of an ISO 8601 time: "2026-12-08T11:12:01+09:00", "...Z", with
// fractions of a second (ignored), with a blank instead of the "T", without an offset (local
// time), or a date alone (local midnight). Nullopt when it is none of these.
std::optional<std::int64_t> ParseIsoTime(std::string_view text);

// A time given on the command line, relative to `now` (seconds since the epoch): an ISO 8601
// time as ParseIsoTime takes it; "now", "today", "yesterday", "tomorrow" (local midnight); a
// signed offset "-1h", "+30min", "-2d" (units s, m/min, h, d, w and their long names); or
// "10 min ago", "2 hours ago". Nullopt when it is none of these.
std::optional<std::int64_t> ParseTimeArgument(std::string_view text, std::int64_t now);

}  // namespace tools
