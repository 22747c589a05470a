// What the helper library and the product server agree on beyond the service definition.
#pragma once

namespace product {

// The kind that the client puts into every request header.
inline constexpr int kHeaderKindRequest = 6;

inline constexpr wchar_t kSharedClass[] = L"SharedClass";
inline constexpr wchar_t kExclusiveClass[] = L"ExclusiveClass";

// Fault codes. A fault with the SOAP "Server" code gives the result 2 (SOAP_SVR_FAULT) and one with
// the "Client" code 1 (SOAP_CLI_FAULT); any other code gives 12 (SOAP_FAULT). kRejectedFaultCode is
// the code the server uses for a request it refuses (no session, bad section name, bad account).
inline constexpr char kRejectedFaultCode[] = "ns1:Rejected";
// A fault with this code stands for a failure the helper library would meet on its own side of the
// exchange (a result such as 7 or 20): the helper gives the result carried in the detail record
// instead of 12. The stand-in server answers with it when told to fail an operation that way.
inline constexpr char kResultFaultCode[] = "ns1:Result";

// Results of the server's own operations (CProductStore), as the client sees them.
inline constexpr int kResultOk = 0;
inline constexpr int kResultServerFault = 2;  // SOAP_SVR_FAULT
inline constexpr int kResultRejected = 12;    // SOAP_FAULT

// Error numbers that the server puts into the detail record of its own faults (Win32 numbers).
inline constexpr int kErrorNotLoggedOn = 5;         // ERROR_ACCESS_DENIED
inline constexpr int kErrorSectionUnreadable = 13;  // ERROR_INVALID_DATA
inline constexpr int kErrorBadSectionName = 87;     // ERROR_INVALID_PARAMETER
inline constexpr int kErrorLogonFailure = 1326;     // ERROR_LOGON_FAILURE

// The source text in the server's fault details.
inline constexpr wchar_t kServerSource[] = L"VormaProductServer";

}  // namespace product
