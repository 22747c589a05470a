#include "traps/TrapRenderer.h"

#include <net-snmp/net-snmp-config.h>
#include <net-snmp/net-snmp-includes.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "common/ObjectName.h"
#include "common/TrapText.h"
#include "platform/Text.h"
#include "traps/Cp932Converter.h"

namespace {

using traptext::kSeparator;
constexpr char kUnknownOid[] = "UnknowOID";
constexpr char kHexString[] = "Hex-STRING:";

// A malloc'd buffer for Net-SNMP's sprint_realloc_* calls, freed with free().
class CPrintBuffer {
  public:
    CPrintBuffer() : m_data(static_cast<u_char*>(std::malloc(256))), m_size(m_data ? 256 : 0) {}
    ~CPrintBuffer() { std::free(m_data); }
    CPrintBuffer(const CPrintBuffer&) = delete;
    CPrintBuffer& operator=(const CPrintBuffer&) = delete;

    u_char** Data() { return &m_data; }
    size_t* Size() { return &m_size; }
    size_t* Length() { return &m_length; }
    bool IsValid() const { return m_data != nullptr; }

    // What was printed, at most `limit` bytes.
    std::string Text(std::size_t limit) const {
        if (m_data == nullptr) {
            return {};
        }
        const std::string_view text(reinterpret_cast<const char*>(m_data), m_length);
        return std::string(text.substr(0, CCp932Converter::FittingLength(text, limit)));
    }

  private:
    u_char* m_data;
    size_t m_size;
    size_t m_length = 0;
};

// Bytes of a name field as the fixed name buffer holds them: at most its size less the NUL,
// ending at the first NUL byte.
std::string NameText(const void* bytes, std::size_t length) {
    if (bytes == nullptr) {
        return {};
    }
    length = std::min(length, CTrapRenderer::kNameBuffer - 1);
    const std::string_view text(static_cast<const char*>(bytes), length);
    return std::string(text.substr(0, text.find('\0')));
}

std::string Trim(std::string_view text) {
    const std::size_t first = text.find_first_not_of(' ');
    if (first == std::string_view::npos) {
        return {};
    }
    const std::size_t last = text.find_last_not_of(' ');
    return std::string(text.substr(first, last - first + 1));
}

const std::string& AuthenticationFailureMark() {
    static const std::string mark = platform::WideToCodePage(
        platform::kCodePage932, std::wstring(traptext::kAuthenticationFailureMark));
    return mark;
}

std::string PrintObjid(const oid* objid, std::size_t length) {
    CPrintBuffer buffer;
    if (!buffer.IsValid()) {
        return {};
    }
    sprint_realloc_objid(buffer.Data(), buffer.Size(), buffer.Length(), 1, objid, length);
    return buffer.Text(CTrapRenderer::kTrapOidBuffer - 1);
}

std::string FormatInetAddress(const u_char* bytes, std::size_t length) {
    char text[64];
    if (length == 4) {
        std::snprintf(text, sizeof text, " InetAddressIPv4: %u.%u.%u.%u", bytes[0], bytes[1],
                      bytes[2], bytes[3]);
        return text;
    }
    std::string address = " InetAddressIPv6: ";
    for (std::size_t i = 0; i < 16; i += 2) {
        std::snprintf(text, sizeof text, "%s%04x", i == 0 ? "" : ":",
                      static_cast<unsigned>(bytes[i] << 8 | bytes[i + 1]));
        address += text;
    }
    return address;
}

// The rule for values without a textual convention: text bytes only, a NUL only at the end.
bool HasOnlyTextBytes(const u_char* bytes, std::size_t length) {
    for (std::size_t i = 0; i < length; ++i) {
        const u_char c = bytes[i];
        const bool text = c == 0x09 || c == 0x0A || c == 0x0D || (c >= 0x20 && c <= 0xFE) ||
                          (c == 0x00 && i + 1 == length);
        if (!text) {
            return false;
        }
    }
    return true;
}

// Characters that make a POSIX extended regular expression repeat, group or anchor.
constexpr char kRegexOperators[] = "*+?{}()[]|^$\\";

// The object identifier of a name, as snmp_parse_oid finds it. For a name it cannot parse
// exactly, snmp_parse_oid goes on to a wildcard search that compiles the name as a POSIX
// extended regular expression for every node of the MIB tree; repetition in it makes the
// compiled form grow exponentially (")" and forty "+" take gigabytes). The names Net-SNMP prints
// never need that search, so a name with such operators is only parsed exactly.
bool ParseObjectName(const std::string& name, oid* parsed, size_t* length) {
    if (name.find_first_of(kRegexOperators) == std::string::npos) {
        return snmp_parse_oid(name.c_str(), parsed, length) != nullptr;
    }
    const size_t capacity = *length;
    if (read_objid(name.c_str(), parsed, length) != 0) {
        return true;
    }
    *length = capacity;
    return get_node(name.c_str(), parsed, length) != 0;
}

// Defined with the memos of MIB look-ups, below.
bool PrintVariableBinding(CPrintBuffer& buffer, const netsnmp_variable_list* variable);

}  // namespace

std::string CTrapRenderer::Render(int operation, snmp_session* session, snmp_pdu* pdu) {
    if (operation != NETSNMP_CALLBACK_OP_RECEIVED_MESSAGE || pdu == nullptr ||
        !HasReadableHeader(pdu)) {
        return {};
    }
    switch (pdu->command) {
        case SNMP_MSG_TRAP:
            return RenderV1Trap(pdu);
        case SNMP_MSG_TRAP2:
        case SNMP_MSG_INFORM:
            return RenderV2Notification(session, pdu);
        default:
            return {};
    }
}

bool CTrapRenderer::HasReadableHeader(const snmp_pdu* pdu) {
    return HeaderName(pdu).find('\n') == std::string::npos;
}

std::string CTrapRenderer::HeaderAddress(snmp_session* session, const snmp_pdu* pdu) {
    if (pdu->command == SNMP_MSG_TRAP) {
        char agent[32];
        std::snprintf(agent, sizeof agent, "%d.%d.%d.%d", pdu->agent_addr[0], pdu->agent_addr[1],
                      pdu->agent_addr[2], pdu->agent_addr[3]);
        return agent;
    }
    std::string sender = "0.0.0.0";
    void* sessionPointer = session != nullptr ? snmp_sess_pointer(session) : nullptr;
    netsnmp_transport* transport =
        sessionPointer != nullptr ? snmp_sess_transport(sessionPointer) : nullptr;
    if (transport != nullptr && transport->f_fmtaddr != nullptr) {
        char* formatted =
            transport->f_fmtaddr(transport, pdu->transport_data, pdu->transport_data_length);
        if (formatted != nullptr) {
            const std::string_view text(formatted, strnlen(formatted, kSenderAddressBuffer - 1));
            sender = SenderAddress(text);
            std::free(formatted);
        }
    }
    return sender;
}

std::string CTrapRenderer::HeaderName(const snmp_pdu* pdu) {
    return pdu->version == SNMP_VERSION_3 ? NameText(pdu->securityName, pdu->securityNameLen)
                                          : NameText(pdu->community, pdu->community_len);
}

bool CTrapRenderer::IsNotification(const snmp_pdu* pdu) {
    return pdu->command == SNMP_MSG_TRAP || pdu->command == SNMP_MSG_TRAP2 ||
           pdu->command == SNMP_MSG_INFORM;
}

std::string CTrapRenderer::RenderV1Trap(snmp_pdu* pdu) {
    const std::string agent = HeaderAddress(nullptr, pdu);

    std::vector<oid> trapOid;
    if (pdu->trap_type == SNMP_TRAP_ENTERPRISESPECIFIC) {
        if (pdu->enterprise != nullptr) {
            trapOid.assign(pdu->enterprise, pdu->enterprise + pdu->enterprise_length);
        }
        if (trapOid.empty() || trapOid.back() != 0) {
            trapOid.push_back(0);
        }
        trapOid.push_back(static_cast<oid>(pdu->specific_type));
    } else {
        trapOid = {1, 3, 6, 1, 6, 3, 1, 1, 5, static_cast<oid>(pdu->trap_type + 1)};
    }
    const std::string trapName = ShortenObjectName(PrintObjid(trapOid.data(), trapOid.size()));

    std::string text = agent;
    text += kSeparator;
    text += HeaderName(pdu);
    text += kSeparator;
    text += "V1\n";
    text += kSeparator;
    text += DecorateLine("sysUpTimeInstance = " +
                         FormatTimeTicks(static_cast<std::uint32_t>(pdu->time)));
    text += '\n';
    text += kSeparator;
    text += DecorateLine("snmpTrapOID.0 = OID: " + trapName);
    text += '\n';
    for (variable_list* variable = pdu->variables; variable != nullptr;
         variable = variable->next_variable) {
        text += kSeparator;
        text += RenderVariable(variable);
        text += '\n';
    }
    return text;
}

std::string CTrapRenderer::RenderV2Notification(snmp_session* session, snmp_pdu* pdu) {
    const bool v3 = pdu->version == SNMP_VERSION_3;
    std::string text = HeaderAddress(session, pdu);
    text += kSeparator;
    text += HeaderName(pdu);
    text += kSeparator;
    text += v3 ? "V3" : "V2c";
    if (session != nullptr && session->s_snmp_errno == SNMPERR_USM_AUTHENTICATIONFAILURE) {
        text += AuthenticationFailureMark();
    }
    text += '\n';
    for (variable_list* variable = pdu->variables; variable != nullptr;
         variable = variable->next_variable) {
        text += kSeparator;
        text += RenderVariable(variable);
        text += '\n';
    }
    return text;
}

std::string CTrapRenderer::RenderVariable(variable_list* variable) {
    CPrintBuffer buffer;
    std::string line;
    if (buffer.IsValid()) {
        PrintVariableBinding(buffer, variable);
        line = buffer.Text(kVariableBuffer - 1);
    }
    RewriteOctetString(variable, line);

    const std::size_t equals = line.find('=');
    const std::string name = line.substr(0, equals);
    const std::string rest = equals == std::string::npos ? std::string() : line.substr(equals);
    line = ShortenObjectName(name) + " " + rest;

    if (line.find("Hex-") != std::string::npos) {
        std::replace_if(
            line.begin(), line.end(), [](char c) { return c == '\n' || c == '\r' || c == '\t'; },
            ' ');
    }
    std::string decorated = DecorateLine(line);
    return decorated.empty() ? line : decorated;
}

std::string CTrapRenderer::PrintVariable(const variable_list* variable) {
    CPrintBuffer buffer;
    if (!buffer.IsValid()) {
        return {};
    }
    PrintVariableBinding(buffer, variable);
    return buffer.Text(std::string::npos);
}

std::string CTrapRenderer::FormatTimeTicks(std::uint32_t ticks) {
    const std::uint32_t seconds = ticks / 100;
    const std::uint32_t days = seconds / 86400;
    const std::uint32_t rest = seconds - days * 86400;
    char text[96];
    std::snprintf(text, sizeof text, "Timeticks: (%u) %d days, %02d:%02d:%02d.%02d", ticks,
                  static_cast<int>(days), static_cast<int>(rest / 3600),
                  static_cast<int>(rest % 3600 / 60), static_cast<int>(rest % 60),
                  static_cast<int>(ticks % 100));
    return text;
}

namespace {

// Changed whenever the MIB tree changes: the names remembered before no longer count.
std::atomic<unsigned> g_mibGeneration{0};

// What a thread looked up last in the MIB tree, by name. Most names of a stream of traps recur
// (the same objects, the same few indexes), and the look-up through the tree costs far more than
// the remembering. Forgotten when the tree changes.
template <class Value>
class CMibMemo {
  public:
    // Past this many names or bytes the memo starts afresh: arbitrary names cannot make it grow.
    static constexpr std::size_t kMaxNames = 1024;
    static constexpr std::size_t kMaxBytes = 256 * 1024;

    const Value* Find(std::string_view key) {
        const unsigned generation = g_mibGeneration.load(std::memory_order_acquire);
        if (generation != m_generation) {
            Clear();
            m_generation = generation;
        }
        const auto found = m_values.find(key);
        return found == m_values.end() ? nullptr : &found->second;
    }

    // `bytes`: about what the value holds beyond its key.
    const Value& Remember(std::string_view key, Value value, std::size_t bytes) {
        if (m_values.size() >= kMaxNames || m_bytes >= kMaxBytes) {
            Clear();
        }
        m_bytes += key.size() + bytes;
        return m_values.insert_or_assign(std::string(key), std::move(value)).first->second;
    }

  private:
    struct KeyHash {
        using is_transparent = void;
        std::size_t operator()(std::string_view key) const {
            return std::hash<std::string_view>()(key);
        }
    };

    void Clear() {
        m_values.clear();
        m_bytes = 0;
    }

    unsigned m_generation = 0;
    std::size_t m_bytes = 0;
    std::unordered_map<std::string, Value, KeyHash, std::equal_to<>> m_values;
};

// An object name as Net-SNMP prints it, and the MIB node that decides how its values print.
struct PrintedName {
    std::string text;
    tree* node = nullptr;
};

bool LibraryFlag(int flag) {
    return netsnmp_ds_get_boolean(NETSNMP_DS_LIBRARY_ID, flag) != 0;
}

// "name = value" as sprint_realloc_variable prints a variable binding, with the name and its MIB
// node remembered per thread: the value is printed by the node's printer, with its enumeration,
// display hint and units, as the library does. Forms other than "name = value" (bare values,
// quick printing) and the exception values go through the library's own call. False when the
// printing failed.
bool PrintVariableBinding(CPrintBuffer& buffer, const netsnmp_variable_list* variable) {
    const bool otherForm = LibraryFlag(NETSNMP_DS_LIB_PRINT_BARE_VALUE) ||
                           LibraryFlag(NETSNMP_DS_LIB_QUICKE_PRINT) ||
                           LibraryFlag(NETSNMP_DS_LIB_QUICK_PRINT);
    const bool exceptionValue = variable->type == SNMP_NOSUCHOBJECT ||
                                variable->type == SNMP_NOSUCHINSTANCE ||
                                variable->type == SNMP_ENDOFMIBVIEW;
    if (otherForm || exceptionValue || variable->name == nullptr) {
        return sprint_realloc_variable(buffer.Data(), buffer.Size(), buffer.Length(), 1,
                                       variable->name, variable->name_length, variable) != 0;
    }
    thread_local CMibMemo<PrintedName> memo;
    const std::string_view key(reinterpret_cast<const char*>(variable->name),
                               variable->name_length * sizeof(oid));
    const PrintedName* name = memo.Find(key);
    if (name == nullptr) {
        CPrintBuffer printed;
        int overflow = 0;
        if (!printed.IsValid()) {
            return false;
        }
        tree* node =
            netsnmp_sprint_realloc_objid_tree(printed.Data(), printed.Size(), printed.Length(), 1,
                                              &overflow, variable->name, variable->name_length);
        if (overflow != 0) {
            return false;
        }
        std::string text = printed.Text(std::string::npos);
        const std::size_t bytes = text.size();
        name = &memo.Remember(key, PrintedName{std::move(text), node}, bytes);
    }
    if (snmp_strcat(buffer.Data(), buffer.Size(), buffer.Length(), 1,
                    reinterpret_cast<const u_char*>(name->text.c_str())) == 0 ||
        snmp_strcat(buffer.Data(), buffer.Size(), buffer.Length(), 1,
                    reinterpret_cast<const u_char*>(" = ")) == 0) {
        return false;
    }
    const tree* node = name->node;
    if (node == nullptr) {
        return sprint_realloc_by_type(buffer.Data(), buffer.Size(), buffer.Length(), 1, variable,
                                      nullptr, nullptr, nullptr) != 0;
    }
    const char* units = LibraryFlag(NETSNMP_DS_LIB_DONT_PRINT_UNITS) ? nullptr : node->units;
    const char* hint = LibraryFlag(NETSNMP_DS_LIB_NO_DISPLAY_HINT) ? nullptr : node->hint;
    if (node->printomat != nullptr) {
        return node->printomat(buffer.Data(), buffer.Size(), buffer.Length(), 1, variable,
                               node->enums, hint, units) != 0;
    }
    return sprint_realloc_by_type(buffer.Data(), buffer.Size(), buffer.Length(), 1, variable,
                                  node->enums, hint, units) != 0;
}

std::string LookUpNumericOid(const std::string& name) {
    oid parsed[MAX_OID_LEN];
    size_t length = MAX_OID_LEN;
    if (!ParseObjectName(name, parsed, &length)) {
        return kUnknownOid;
    }
    std::string text;
    for (size_t i = 0; i < length; ++i) {
        if (i > 0) {
            text += '.';
        }
        text += std::to_string(parsed[i]);
    }
    return text;
}

}  // namespace

std::string CTrapRenderer::NumericOid(const std::string& name) {
    thread_local CMibMemo<std::string> memo;
    if (const std::string* known = memo.Find(name)) {
        return *known;
    }
    std::string numeric = LookUpNumericOid(name);
    const std::size_t bytes = numeric.size();
    return memo.Remember(name, std::move(numeric), bytes);
}

void CTrapRenderer::ForgetLoadedMibs() {
    g_mibGeneration.fetch_add(1, std::memory_order_acq_rel);
}

std::string CTrapRenderer::DecorateLine(std::string_view line) {
    const std::size_t equals = line.find('=');
    if (equals == std::string_view::npos) {
        return {};
    }
    std::string name(line.substr(0, equals));
    if (!name.empty()) {
        name.pop_back();
    }
    std::string value(line.substr(equals + 1));
    if (!value.empty()) {
        value.erase(0, 1);
    }
    std::string text = name + " { " + NumericOid(name) + " } = " + value;
    if (value.compare(0, 5, "OID: ") == 0) {
        text += " { " + NumericOid(value.substr(5)) + " }";
    }
    return text;
}

void CTrapRenderer::RewriteOctetString(variable_list* variable, std::string& line) {
    if (variable == nullptr || variable->type != ASN_OCTET_STR) {
        return;
    }
    u_char* value = variable->val.string;
    const std::size_t length = value != nullptr ? variable->val_len : 0;

    const std::size_t dot = line.find('.');
    const std::size_t equals = line.find('=');
    struct tree* node = nullptr;
    const char* convention = nullptr;
    if (dot != std::string::npos) {
        node = find_node(line.substr(0, dot).c_str(), get_tree_head());
        if (node != nullptr) {
            convention = get_tc_descriptor(node->tc_index);
            if (convention != nullptr && *convention == '\0') {
                convention = nullptr;
            }
        }
    }

    // Internet addresses.
    if ((length == 4 || length == 16) && dot != std::string::npos && equals != std::string::npos &&
        convention != nullptr && std::strstr(convention, "InetAddress") != nullptr) {
        line = line.substr(0, equals + 1) + FormatInetAddress(value, length);
        return;
    }

    // Octet strings that Net-SNMP did not consider printable.
    const std::size_t hex = line.find(kHexString);
    if (hex == std::string::npos) {
        return;
    }
    if (node != nullptr) {
        if (convention != nullptr) {
            if (std::strstr(convention, "Display") == nullptr) {
                return;
            }
            for (std::size_t i = 0; i < length; ++i) {
                if (value[i] < 0x20) {
                    value[i] = ' ';
                }
            }
        } else if (!HasOnlyTextBytes(value, length)) {
            return;
        }
    }
    if (hex + length + 1 > kVariableBuffer) {
        return;
    }
    const std::string bytes(reinterpret_cast<const char*>(value), length);
    for (std::size_t i = 0; i < length; ++i) {
        const auto c = static_cast<unsigned char>(bytes[i]);
        if ((c >= 0x01 && c <= 0x1F) || (c == 0x00 && i + 1 < length)) {
            return;
        }
    }
    const std::size_t limit = std::min(2 * length, kVariableBuffer - 1);
    std::string text;
    if (CCp932Converter::IsWellFormedUtf8(bytes)) {
        text = CCp932Converter::ToCp932(CCp932Converter::Source::kUtf8, bytes, limit);
    } else if (CCp932Converter::IsWellFormedShiftJis(bytes)) {
        const std::string_view shiftJis(bytes.c_str());
        text = shiftJis.substr(0, CCp932Converter::FittingLength(shiftJis, limit));
    } else if (CCp932Converter::IsWellFormedEucJp(bytes)) {
        text = CCp932Converter::ToCp932(CCp932Converter::Source::kEucJp, bytes, limit);
    } else {
        return;
    }
    line.resize(hex);
    line += "STRING: ";
    line += text;
    line.resize(CCp932Converter::FittingLength(line, kVariableBuffer - 1));
}

std::string CTrapRenderer::SenderAddress(std::string_view formatted) {
    std::string_view text = formatted;
    const std::size_t open = text.find('[');
    if (open != std::string_view::npos) {
        text.remove_prefix(open + 1);
    }
    const std::size_t close = text.find(']');
    if (close != std::string_view::npos) {
        text = text.substr(0, close);
    }
    return Trim(text);
}
