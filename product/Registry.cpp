#include "product/Registry.h"

#include <vector>

#include "platform/Text.h"
#include "platform/Win32Error.h"

namespace {

constexpr std::uint32_t kSFalse = 1;
// A value that grows between the size query and the read is read again, this many times.
constexpr int kReadAttempts = 4;

}  // namespace

CRegistry::~CRegistry() {
    Close();
}

std::uint32_t CRegistry::Open(platform::RegKey root, const std::wstring& subkey,
                              std::uint32_t access) {
    Close();
    platform::RegKey key = 0;
    std::uint32_t rc = platform::OpenRegistryKey(root, subkey, access, &key);
    if (rc != platform::kErrorSuccess) {
        return platform::HResultFromWin32(rc);
    }
    m_key = key;
    return 0;
}

std::uint32_t CRegistry::Create(platform::RegKey root, const std::wstring& subkey) {
    Close();
    platform::RegKey key = 0;
    bool created = false;
    std::uint32_t rc =
        platform::CreateRegistryKey(root, subkey, platform::kKeyAllAccess, &key, &created);
    if (rc != platform::kErrorSuccess) {
        return platform::HResultFromWin32(rc);
    }
    m_key = key;
    return created ? 0 : kSFalse;
}

std::uint32_t CRegistry::QueryStringValue(const wchar_t* name, std::wstring& text) {
    if (name == nullptr) {
        return platform::kEInvalidArg;
    }
    if (m_key == 0) {
        return platform::kEFail;
    }
    std::uint32_t size = 0;
    std::uint32_t rc = platform::QueryRegistryValue(m_key, name, nullptr, nullptr, &size);
    std::vector<std::uint8_t> buffer;
    for (int attempt = 0; rc == platform::kErrorSuccess && attempt < kReadAttempts; ++attempt) {
        // size / 2 characters and a terminator.
        buffer.assign((static_cast<std::size_t>(size) / 2 + 1) * 2, 0);
        std::uint32_t capacity = static_cast<std::uint32_t>(buffer.size());
        rc = platform::QueryRegistryValue(m_key, name, nullptr, buffer.data(), &capacity);
        if (rc == platform::kErrorMoreData) {
            size = capacity;  // it grew meanwhile: read again with the new size
            rc = platform::kErrorSuccess;
            continue;
        }
        if (rc == platform::kErrorSuccess) {
            std::size_t units = capacity / 2;
            std::size_t length = 0;
            while (length < units && (buffer[2 * length] != 0 || buffer[2 * length + 1] != 0)) {
                ++length;
            }
            text = platform::Utf16LeToWide(buffer.data(), length * 2);
            return 0;
        }
    }
    return platform::HResultFromWin32(rc == platform::kErrorSuccess ? platform::kErrorMoreData
                                                                    : rc);
}

std::uint32_t CRegistry::QueryDWORDValue(const wchar_t* name, std::uint32_t& value) {
    if (name == nullptr) {
        return platform::kEInvalidArg;
    }
    if (m_key == 0) {
        return platform::kEFail;
    }
    std::uint8_t bytes[4] = {};
    std::uint32_t size = sizeof(bytes);
    std::uint32_t rc = platform::QueryRegistryValue(m_key, name, nullptr, bytes, &size);
    if (rc != platform::kErrorSuccess) {
        return platform::HResultFromWin32(rc);
    }
    if (size != sizeof(bytes)) {
        // Fewer bytes than a number holds: taking them would invent the missing ones.
        return platform::HResultFromWin32(platform::kErrorInvalidData);
    }
    value = static_cast<std::uint32_t>(bytes[0]) | (static_cast<std::uint32_t>(bytes[1]) << 8) |
            (static_cast<std::uint32_t>(bytes[2]) << 16) |
            (static_cast<std::uint32_t>(bytes[3]) << 24);
    return 0;
}

std::uint32_t CRegistry::SetExpandStringValue(const wchar_t* name, std::wstring_view text) {
    if (name == nullptr) {
        return platform::kEInvalidArg;
    }
    if (m_key == 0) {
        return platform::kEFail;
    }
    // (length + 1) * 2 bytes: the UTF-16 units and the terminator.
    std::vector<std::uint8_t> bytes = platform::WideToUtf16Le(text);
    bytes.push_back(0);
    bytes.push_back(0);
    return platform::HResultFromWin32(
        platform::SetRegistryValue(m_key, name, platform::kRegExpandSz, bytes.data(),
                                   static_cast<std::uint32_t>(bytes.size())));
}

std::uint32_t CRegistry::SetDWORDValue(const wchar_t* name, std::uint32_t value) {
    if (name == nullptr) {
        return platform::kEInvalidArg;
    }
    if (m_key == 0) {
        return platform::kEFail;
    }
    const std::uint8_t bytes[4] = {static_cast<std::uint8_t>(value & 0xFFu),
                                   static_cast<std::uint8_t>((value >> 8) & 0xFFu),
                                   static_cast<std::uint8_t>((value >> 16) & 0xFFu),
                                   static_cast<std::uint8_t>((value >> 24) & 0xFFu)};
    return platform::HResultFromWin32(
        platform::SetRegistryValue(m_key, name, platform::kRegDword, bytes, sizeof(bytes)));
}

std::uint32_t CRegistry::DeleteKey(platform::RegKey root, const std::wstring& subkey) {
    return platform::HResultFromWin32(platform::DeleteRegistryTree(root, subkey));
}

void CRegistry::Close() {
    if (m_key != 0 && !platform::IsPredefinedRegKey(m_key)) {
        platform::CloseRegistryKey(m_key);
    }
    m_key = 0;
}
