// The one event-log reporter of the manager, and the message texts it writes.
//
// Every report goes to the Application log under the source "VORMASNMPManagerService". The
// identifiers and string numbers are those of reporter/resources/Messages.json (ResourceIds.h).
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

#include "platform/EventLog.h"
#include "platform/MessageFormat.h"
#include "reporter/resources/ResourceIds.h"

inline constexpr wchar_t kEventSourceName[] = L"VORMASNMPManagerService";

// The event types of the reports, as the log names them.
inline constexpr std::uint16_t kEventError = platform::kEventTypeError;
inline constexpr std::uint16_t kEventWarning = platform::kEventTypeWarning;
inline constexpr std::uint16_t kEventInformation = platform::kEventTypeInformation;

// Opens the event source, writes one event (category 0, no user, no binary data) and closes the
// source. False when the source cannot be opened or the write fails. Safe from any thread.
bool ReportToEventLog(std::uint32_t eventId, std::uint16_t type, std::uint16_t count,
                      const std::wstring* strings);
bool ReportToEventLog(std::uint32_t eventId, std::uint16_t type,
                      const std::vector<std::wstring>& strings = {});
// The same with named fields, kept where the log keeps them (the journal, as VORMA_name).
bool ReportToEventLog(std::uint32_t eventId, std::uint16_t type,
                      const std::vector<std::wstring>& strings,
                      const std::vector<platform::EventField>& fields);

// The system's text for an error code, or empty text.
std::wstring FormatSystemError(std::uint32_t code);

// The text of a string resource (104 to 110, 114), or empty text.
std::wstring LoadResourceString(std::uint32_t id);

// A string resource formatted with the system message formatter: "%1!s!" takes a text, "%2!d!" a
// number. Empty text when the resource is missing or formatting fails.
std::wstring FormatResourceMessage(std::uint32_t id,
                                   std::initializer_list<platform::MessageArg> args);
