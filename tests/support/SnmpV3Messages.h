// Test and benchmark helper: SNMPv3 authPriv trap messages (SHA, AES) built by Net-SNMP as the
// sending, authoritative engine would build them, returned as bytes to be sent by any socket.
// Every message is encrypted on its own. The keys are whatever the caller gives, so the same
// builder makes the traps of a configured user and those of a sender that holds a wrong key.
//
// Net-SNMP is process-wide state: use the builder in a process (or forked child) of its own that
// runs no other Net-SNMP code, and give it a private folder for the library's configuration and
// persistent files so that nothing of the machine's is read or written. The library keeps the keys
// with the user (engine ID and name) of the process, not with the session: a second builder for
// the same user in one process would build with the first one's keys, so senders that share a
// user name but not its keys need a process each.
#pragma once

#include <net-snmp/net-snmp-config.h>
#include <net-snmp/net-snmp-includes.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "tests/support/SnmpMessages.h"

namespace test {

struct V3Sender {
    std::string engineId;  // hexadecimal, without "0x"
    std::string user;
    std::string authPass;  // SHA
    std::string privPass;  // AES
    std::string peer = "udp:127.0.0.1:162";
};

class CV3MessageBuilder {
  public:
    // `privateFolder`, when not empty, becomes the library's configuration and persistent folder
    // (and no MIB modules are loaded). The library is started once per process.
    explicit CV3MessageBuilder(const V3Sender& sender,
                               const std::filesystem::path& privateFolder = {}) {
        if (!privateFolder.empty()) {
            std::filesystem::create_directories(privateFolder);
            ::setenv("SNMPCONFPATH", privateFolder.c_str(), 1);
            ::setenv("SNMP_PERSISTENT_DIR", privateFolder.c_str(), 1);
            ::setenv("MIBDIRS", privateFolder.c_str(), 1);
            ::setenv("MIBS", "", 1);
        }
        static const bool started = [] {
            init_snmp("vorma-test-sender");
            return true;
        }();
        (void)started;
        Open(sender);
    }
    ~CV3MessageBuilder() {
        if (m_session != nullptr) {
            snmp_close(m_session);
        }
    }
    CV3MessageBuilder(const CV3MessageBuilder&) = delete;
    CV3MessageBuilder& operator=(const CV3MessageBuilder&) = delete;

    bool IsOpen() const { return m_session != nullptr; }
    const std::string& Error() const { return m_error; }

    // An SNMPv2 trap PDU in an SNMPv3 message: sysUpTime.0 and snmpTrapOID.0, then `more`
    // (types as in VarBind). Empty when the library refused to build it.
    std::string BuildTrap(std::uint32_t upTime, const std::string& trapOid,
                          const std::vector<VarBind>& more = {}) {
        if (m_session == nullptr) {
            return {};
        }
        netsnmp_pdu* pdu = snmp_pdu_create(SNMP_MSG_TRAP2);
        pdu->version = SNMP_VERSION_3;
        std::vector<VarBind> binds = {{kSysUpTimeOid, 't', std::to_string(upTime)},
                                      {kSnmpTrapOid, 'o', trapOid}};
        binds.insert(binds.end(), more.begin(), more.end());
        for (const VarBind& bind : binds) {
            oid name[MAX_OID_LEN];
            size_t nameLength = MAX_OID_LEN;
            if (read_objid(bind.oid.c_str(), name, &nameLength) == 0 ||
                snmp_add_var(pdu, name, nameLength, bind.type, bind.value.c_str()) != 0) {
                m_error = "cannot add " + bind.oid;
                snmp_free_pdu(pdu);
                return {};
            }
        }
        u_char* packet = nullptr;
        size_t packetLength = 0;
        size_t offset = 0;
        const int rc = snmp_build(&packet, &packetLength, &offset, m_session, pdu);
        std::string message;
        if (rc == 0 && packet != nullptr) {
            // Built backwards: the message is the last `offset` bytes of the buffer.
            message.assign(reinterpret_cast<char*>(packet + packetLength - offset), offset);
        } else {
            m_error = std::string("snmp_build: ") + snmp_api_errstring(snmp_errno);
        }
        std::free(packet);
        snmp_free_pdu(pdu);
        return message;
    }

  private:
    void Open(const V3Sender& sender) {
        m_engine.resize(sender.engineId.size() / 2);
        for (std::size_t i = 0; i < m_engine.size(); ++i) {
            m_engine[i] =
                static_cast<u_char>(std::stoi(sender.engineId.substr(2 * i, 2), nullptr, 16));
        }
        netsnmp_session session;
        snmp_sess_init(&session);
        session.version = SNMP_VERSION_3;
        session.securityName = const_cast<char*>(sender.user.c_str());
        session.securityNameLen = sender.user.size();
        session.securityLevel = SNMP_SEC_LEVEL_AUTHPRIV;
        session.securityEngineID = m_engine.data();
        session.securityEngineIDLen = m_engine.size();
        session.contextEngineID = m_engine.data();
        session.contextEngineIDLen = m_engine.size();
        session.securityAuthProto = usmHMACSHA1AuthProtocol;
        session.securityAuthProtoLen = USM_AUTH_PROTO_SHA_LEN;
        session.securityAuthKeyLen = USM_AUTH_KU_LEN;
        session.securityPrivProto = usmAESPrivProtocol;
        session.securityPrivProtoLen = USM_PRIV_PROTO_AES_LEN;
        session.securityPrivKeyLen = USM_PRIV_KU_LEN;
        if (generate_Ku(session.securityAuthProto, session.securityAuthProtoLen,
                        reinterpret_cast<const u_char*>(sender.authPass.c_str()),
                        sender.authPass.size(), session.securityAuthKey,
                        &session.securityAuthKeyLen) != SNMPERR_SUCCESS ||
            generate_Ku(session.securityAuthProto, session.securityAuthProtoLen,
                        reinterpret_cast<const u_char*>(sender.privPass.c_str()),
                        sender.privPass.size(), session.securityPrivKey,
                        &session.securityPrivKeyLen) != SNMPERR_SUCCESS) {
            m_error = "generate_Ku failed";
            return;
        }
        // The sender of a trap is the authoritative engine: its boots and time go into the
        // messages.
        session.engineBoots = 1;
        session.engineTime = static_cast<u_int>(get_uptime());
        set_enginetime(m_engine.data(), m_engine.size(), session.engineBoots, session.engineTime,
                       TRUE);
        std::string peer = sender.peer;
        session.peername = peer.data();
        m_session = snmp_open(&session);
        if (m_session == nullptr) {
            m_error = std::string("snmp_open: ") + snmp_api_errstring(snmp_errno);
        }
    }

    std::vector<u_char> m_engine;
    netsnmp_session* m_session = nullptr;
    std::string m_error;
};

}  // namespace test
