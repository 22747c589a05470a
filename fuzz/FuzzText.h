// Text of a fuzz input as the programs would hold it: settings lines and messages reach them
// through the locale (UTF-8) or code page 932 conversions, so arbitrary bytes are decoded by one
// of the two, chosen by the input.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/Text.h"

namespace fuzztext {

enum class Decoding : std::uint8_t { kUtf8, kCodePage932 };

inline std::wstring Decode(Decoding decoding, std::string_view bytes) {
    return decoding == Decoding::kUtf8 ? platform::Utf8ToWide(bytes)
                                       : platform::CodePageToWide(platform::kCodePage932, bytes);
}

inline std::string_view AsText(const std::uint8_t* data, std::size_t size) {
    return std::string_view(reinterpret_cast<const char*>(data), size);
}

}  // namespace fuzztext
