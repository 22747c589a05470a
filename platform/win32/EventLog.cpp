#include "platform/EventLog.h"

#include <string>

#include "platform/win32/WindowsHeaders.h"

namespace platform {
namespace {

HANDLE AsHandle(std::uintptr_t handle) {
    return reinterpret_cast<HANDLE>(handle);
}

}  // namespace

std::filesystem::path ApplicationLogFile() {
    return {};  // the system keeps the log
}

EventLogSource::EventLogSource(EventLogSource&& other) noexcept : m_handle(other.m_handle) {
    other.m_handle = 0;
}

EventLogSource& EventLogSource::operator=(EventLogSource&& other) noexcept {
    if (this != &other) {
        Deregister();
        m_handle = other.m_handle;
        other.m_handle = 0;
    }
    return *this;
}

EventLogSource::~EventLogSource() {
    Deregister();
}

EventLogSource EventLogSource::Register(std::wstring_view sourceName, std::uint32_t* error) {
    std::wstring name(sourceName);
    HANDLE handle = ::RegisterEventSourceW(nullptr, name.c_str());
    if (error != nullptr) {
        *error = handle != nullptr ? 0 : ::GetLastError();
    }
    return EventLogSource(reinterpret_cast<std::uintptr_t>(handle));
}

// The Windows log keeps no named fields: an event's fields are not written.
bool EventLogSource::Report(std::uint16_t type, std::uint16_t category, std::uint32_t eventId,
                            const std::vector<std::wstring>& strings,
                            const std::vector<EventField>& /*fields*/) {
    if (m_handle == 0 || strings.size() > 0xFFFF) {
        return false;
    }
    std::vector<const wchar_t*> pointers;
    pointers.reserve(strings.size());
    for (const std::wstring& text : strings) {
        pointers.push_back(text.c_str());
    }
    return ::ReportEventW(AsHandle(m_handle), type, category, eventId, nullptr,
                          static_cast<WORD>(pointers.size()), 0,
                          pointers.empty() ? nullptr : pointers.data(), nullptr) != FALSE;
}

void EventLogSource::Deregister() {
    if (m_handle != 0) {
        ::DeregisterEventSource(AsHandle(m_handle));
        m_handle = 0;
    }
}

}  // namespace platform
