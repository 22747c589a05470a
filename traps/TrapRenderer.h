// Rendering of a received SNMP notification to its trap text.
//
// A trap text is narrow text in code page 932: a header line (sender address, community or
// SNMPv3 user name, version word "V1", "V2c" or "V3", separated by a TAB and two blanks), then
// one line per variable binding with the object's short name and numeric identifier and the
// value; every line starts with the separator except the header and ends with a line feed.
// Rendering uses the MIB tree and the print settings that the SNMP engine gave Net-SNMP, and runs
// only where Net-SNMP calls are allowed (inside a receive round).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

struct snmp_session;
struct snmp_pdu;
struct variable_list;

class CTrapRenderer {
  public:
    // Limits of the text, in bytes with the terminating NUL of the fixed buffers they come from.
    static constexpr std::size_t kSenderAddressBuffer = 1024;
    static constexpr std::size_t kNameBuffer = 2048;
    static constexpr std::size_t kVariableBuffer = 2048;
    static constexpr std::size_t kTrapOidBuffer = 2560;

    // The trap text of a message that Net-SNMP handed to the session callback, or empty text
    // when `operation` is not a received message, the PDU is not an SNMPv1 trap, an SNMPv2 trap
    // or an inform, or its header could not be read back (HasReadableHeader). May rewrite value
    // bytes of the PDU (the "Display" rule).
    static std::string Render(int operation, snmp_session* session, snmp_pdu* pdu);

    // False when the community (SNMPv3: the user name) that goes into the header line holds a
    // line feed: the header line would end inside it, and what the sender put after it would be
    // read as the rest of the header (another community, another version). Such a notification
    // is refused: not rendered. (The engine counts it, and answers it if it is an inform.)
    static bool HasReadableHeader(const snmp_pdu* pdu);

    // An SNMPv1 trap, an SNMPv2 trap or an inform: what is rendered.
    static bool IsNotification(const snmp_pdu* pdu);

    // The header line's first two fields: the sender's address (SNMPv1: the agent-address field;
    // otherwise from the session's transport, "0.0.0.0" without one) and the community (SNMPv3:
    // the user name), as bytes of the message, up to the name buffer and its first NUL.
    static std::string HeaderAddress(snmp_session* session, const snmp_pdu* pdu);
    static std::string HeaderName(const snmp_pdu* pdu);

    // One variable-binding line (without the leading separator and the line feed).
    static std::string RenderVariable(variable_list* variable);

    // A variable binding as Net-SNMP prints it ("name = value", sprint_realloc_variable), with
    // the name and the MIB node that decides the value's form remembered per thread for the
    // names seen last, until ForgetLoadedMibs.
    static std::string PrintVariable(const variable_list* variable);

    // "Timeticks: (%u) %d days, %02d:%02d:%02d.%02d" of hundredths of a second.
    static std::string FormatTimeTicks(std::uint32_t ticks);

    // The dotted decimal form of an object name, or "UnknowOID" when the MIBs cannot parse it.
    // Remembered per thread for the names seen last, until ForgetLoadedMibs.
    static std::string NumericOid(const std::string& name);

    // To be called whenever the MIB tree that Net-SNMP holds changes (loaded, reloaded, shut
    // down): what NumericOid remembers is looked up again.
    static void ForgetLoadedMibs();

    // "name = value" with the numeric forms added: "name { n } = value", or for an OID value
    // "name { n } = OID: v { m }". Empty text when the line has no "=".
    static std::string DecorateLine(std::string_view line);

    // Post-processing of an OCTET STRING value printed into `line`: InetAddress values as
    // addresses, Japanese text (UTF-8, Shift-JIS, EUC-JP) that Net-SNMP printed as Hex-STRING as
    // code page 932 text.
    static void RewriteOctetString(variable_list* variable, std::string& line);

    // The sender's IP address from the text of the transport's address formatter
    // ("UDP: [192.0.2.1]:1234->[0.0.0.0]:162", "UDP/IPv6: [::1]:1234").
    static std::string SenderAddress(std::string_view formatted);

  private:
    static std::string RenderV1Trap(snmp_pdu* pdu);
    static std::string RenderV2Notification(snmp_session* session, snmp_pdu* pdu);
};
