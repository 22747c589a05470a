#!/usr/bin/env python3
"""The manager as an administrator meets it on Windows, under Wine:

  manager_smoke_test.py BIN_DIR WORK_DIR

VormaSnmpManager.exe of BIN_DIR is installed in a product installation of a private Wine prefix
(made in WORK_DIR, which is emptied first and removed at the end), registered as a service with
`-install`, started with `sc start`, and sent traps by Linux's own Net-SNMP tools over the
loopback of a private network namespace: an SNMPv2c trap on IPv4, an SNMPv3 authPriv trap whose
user's pass phrases the manager deciphers from SnmpV3Setting.txt, and an SNMPv2c trap on IPv6.
Each must become event 2000 with the exact text. Then `sc stop` (1101) and `-uninstall`, after
which the service and its event source are gone.
"""
import json
import os
import re
import shutil
import subprocess
import sys
import time

sys.dont_write_bytecode = True  # nothing of the run in the source folder
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import winesession  # noqa: E402
from winesession import INSTALL_DIR, Checks, WineSession  # noqa: E402

SERVICE = "VORMASNMPManageService"
SERVICE_KEY = r"HKLM\SYSTEM\CurrentControlSet\Services" + "\\" + SERVICE
SOURCE_KEY = r"HKLM\SYSTEM\CurrentControlSet\Services\EventLog\Application\VORMASNMPManagerService"
MANAGER = "VormaSnmpManager.exe"
MANAGER_PATH = INSTALL_DIR + r"\bin" + "\\" + MANAGER

# The readiness probe of the Linux end-to-end tests: an inform of a community that no agent entry
# lists, so the manager acknowledges it and drops it.
PROBE_COMMUNITY = "vorma-probe"
PROBE_MARKER = "vorma-readiness-probe"
GUARD = 60  # seconds; only keeps a broken manager from hanging the suite

# The SNMPv3 user as the encryption tool leaves it: "password" and "passphrase9" enciphered.
ENGINE = "8000000001020304"
V3_SETTINGS = ('-u:"monitor" -e:' + ENGINE +
               ' -a:SHA -A:"AhKYwoX5n5A=" -x:AES -X:"cnmJ723B/iRjL8A+CJOC0A=="\r\n')

UPTIME_LINE = "\t  sysUpTime.0 { 1.3.6.1.2.1.1.3.0 } = Timeticks: (4711) 0:00:47.11\n"
COLD_START_LINE = ("\t  snmpTrapOID.0 { 1.3.6.1.6.3.1.1.4.1.0 } = OID: coldStart "
                   "{ 1.3.6.1.6.3.1.1.5.1 }\n")


def sys_name_line(name):
    return f'\t  sysName.0 {{ 1.3.6.1.2.1.1.5.0 }} = STRING: "{name}"\n'


# (what, destination, snmptrap options before the destination, its arguments after it, event
# type, event text)
TRAPS = [
    ("SNMPv2c trap on IPv4", "udp:127.0.0.1:162",
     ["-v", "2c", "-c", "public"],
     ["4711", "1.3.6.1.6.3.1.1.5.3", "1.3.6.1.2.1.2.2.1.1.1", "i", "1"],
     1,  # linkDown's level is error
     "Core router : 127.0.0.1\t  public\t  V2c\n" + UPTIME_LINE +
     "\t  snmpTrapOID.0 { 1.3.6.1.6.3.1.1.4.1.0 } = OID: linkDown { 1.3.6.1.6.3.1.1.5.3 }\n"
     "\t  ifIndex.1 { 1.3.6.1.2.1.2.2.1.1.1 } = INTEGER: 1\n"),
    ("SNMPv3 authPriv trap with the deciphered pass phrases", "udp:127.0.0.1:162",
     ["-v", "3", "-e", "0x" + ENGINE, "-u", "monitor", "-l", "authPriv", "-a", "SHA", "-A",
      "password", "-x", "AES", "-X", "passphrase9"],
     ["4711", "1.3.6.1.6.3.1.1.5.1", "1.3.6.1.2.1.1.5.0", "s", "wine-v3"],
     4,  # coldStart's level is information
     "127.0.0.1\t  monitor\t  V3\n" + UPTIME_LINE + COLD_START_LINE + sys_name_line("wine-v3")),
    ("SNMPv2c trap on IPv6", "udp6:[::1]:162",
     ["-v", "2c", "-c", "public"],
     ["4711", "1.3.6.1.6.3.1.1.5.1", "1.3.6.1.2.1.1.5.0", "s", "wine-ipv6"],
     4,
     "Loopback6 : ::1\t  public\t  V2c\n" + UPTIME_LINE + COLD_START_LINE +
     sys_name_line("wine-ipv6")),
]


class NetSnmpTools:
    """Linux's snmptrap and snmpinform, with a configuration and persistent folder of their own,
    so that nothing of the machine's own settings takes part."""

    def __init__(self, folder):
        os.makedirs(folder, exist_ok=True)
        self.env = dict(os.environ, SNMPCONFPATH=folder, SNMP_PERSISTENT_DIR=folder)

    def run(self, tool, args):
        # No MIB module of the machine's: the OIDs are numeric.
        proc = subprocess.run([tool, "-m", ""] + args, env=self.env, stdin=subprocess.DEVNULL,
                              stdout=subprocess.PIPE, stderr=subprocess.STDOUT, timeout=GUARD,
                              check=False)
        return proc.returncode, proc.stdout.decode("utf-8", "replace").strip()

    def probe(self, destination, timeout="0.5", retries="0"):
        """True once the manager acknowledged an inform sent to `destination`."""
        code, _ = self.run("snmpinform", [
            "-v", "2c", "-c", PROBE_COMMUNITY, "-t", timeout, "-r", retries, destination, "0",
            "1.3.6.1.6.3.1.1.5.1", "1.3.6.1.4.1.99999.0.1", "s", PROBE_MARKER])
        return code == 0

    def wait_ready(self, destination):
        deadline = time.monotonic() + GUARD
        while time.monotonic() < deadline:
            if self.probe(destination):
                return True
            time.sleep(0.1)
        return False

    def flush(self, destination):
        """The manager reads each socket in order: once it has acknowledged this inform, every
        datagram sent there before is in its trap queue."""
        return self.probe(destination, timeout="1", retries="10")


def service_state(wine):
    """The state "sc query" shows (RUNNING, STOPPED ...), or None when the query fails."""
    code, out = wine.text(["sc", "query", SERVICE])
    match = re.search(r"STATE\s*:\s*\d+\s+(\w+)", out)
    return match.group(1) if code == 0 and match else None


def wait_state(wine, wanted):
    deadline = time.monotonic() + GUARD
    state = service_state(wine)
    while state != wanted and time.monotonic() < deadline:
        time.sleep(0.2)
        state = service_state(wine)
    return state


def registry_value(wine, key, name):
    """The data of a registry value as "reg query" prints it, or None."""
    code, out = wine.text(["reg", "query", key, "/v", name])
    match = re.search(r"^\s+" + re.escape(name) + r"\s+REG_\w+\s+(.*)$", out, re.MULTILINE)
    return match.group(1).rstrip() if code == 0 and match else None


def without_probes(events):
    return [e for e in events if not any(PROBE_MARKER in s for s in e["strings"])]


def shown(events):
    return [(e["id"], e["type"], e["strings"]) for e in events]


def write_installation(root):
    config = os.path.join(root, "Common", "snmp", "Config")
    agents = [("TRUE", "Core router", "127.0.0.1", "public"),
              ("TRUE", "Loopback6", "::1", "public")]
    section = f"NumberOfElements={len(agents)}\n"
    for number, (listen, name, address, community) in enumerate(agents, 1):
        section += (f"IsListen{number:03}={listen}\nDispName{number:03}={name}\n"
                    f"Addr{number:03}={address}\nCommunityName{number:03}={community}\n")
    files = {
        os.path.join(root, "Environment", "Config", "SNMP_MANAGER.ini"): section,
        os.path.join(config, "EventLevel.txt"): "1,coldStart\r\n3,linkDown\r\n0,linkDown\r\n",
        os.path.join(config, "SnmpV3Setting.txt"): V3_SETTINGS,
    }
    for path, text in files.items():
        with open(path, "wb") as f:
            f.write(text.encode("utf-8"))


def run_scenario(wine, tools, checks):
    code, out, events = wine.wine([MANAGER_PATH, "-install"], events=True)
    checks.equal("-install exits with 0", code, 0)
    checks.equal("-install prints nothing", out, b"")
    checks.equal("-install reports event 1000", shown(events), [(1000, 4, [])])
    checks.equal("the service's program is the installed one, quoted",
                 registry_value(wine, SERVICE_KEY, "ImagePath"), f'"{MANAGER_PATH}"')
    checks.equal("the event source's message file is the installed program",
                 registry_value(wine, SOURCE_KEY, "EventMessageFile"), MANAGER_PATH)

    code, out = wine.text(["sc", "start", SERVICE])
    if not checks.equal("sc start exits with 0", code, 0):
        print(out)
    checks.equal("the service reaches RUNNING", wait_state(wine, "RUNNING"), "RUNNING")
    ready = checks.true("the manager answers on IPv4", tools.wait_ready("udp:127.0.0.1:162"))
    ready = checks.true("the manager answers on IPv6",
                        tools.wait_ready("udp6:[::1]:162")) and ready
    if ready:
        for what, destination, options, payload, _, _ in TRAPS:
            code, out = tools.run("snmptrap", options + [destination] + payload)
            checks.true(f"snmptrap sends the {what}", code == 0, out)
            # Both families have a socket each: the order of the events is kept by letting
            # the manager read each trap before the next one goes out.
            checks.true(f"the manager has read the {what}", tools.flush(destination))

    code, out = wine.text(["sc", "stop", SERVICE])
    checks.equal("sc stop exits with 0", code, 0)
    checks.equal("the service reaches STOPPED", wait_state(wine, "STOPPED"), "STOPPED")
    expected = [(1100, 4, [])]
    expected += [(2000, event_type, [text]) for _, _, _, _, event_type, text in TRAPS]
    expected += [(1101, 4, [])]
    checks.equal("the service reports its start, each trap's text and its stop",
                 shown(without_probes(wine.system_events())), expected)

    # The counters of the run, as the stop left them in the service's Parameters key.
    counters_text = registry_value(wine, SERVICE_KEY + "\\Parameters", "Counters")
    try:
        counters = json.loads(counters_text or "")
    except ValueError:
        counters = {}
    checks.equal("the counters show each trap written as an event",
                 counters.get("EventsWritten"), len(TRAPS))
    checks.equal("the counters show the trap queue empty after the stop",
                 counters.get("Queue", {}).get("Length"), 0)
    checks.equal("the counters show no drops of the system's sockets on Windows",
                 counters.get("KernelDrops"), {})

    code, out, events = wine.wine([MANAGER_PATH, "-uninstall"], events=True)
    checks.equal("-uninstall exits with 0", code, 0)
    checks.equal("-uninstall reports event 1001", shown(events), [(1001, 4, [])])
    checks.true("the service's key is gone", not wine.key_exists(SERVICE_KEY))
    checks.true("the event source's key is gone", not wine.key_exists(SOURCE_KEY))
    # Windows' sc exits with 1060 (ERROR_SERVICE_DOES_NOT_EXIST) here, Wine's with 1 and no
    # output: the query is only required to fail.
    checks.equal("sc query no longer finds the service", service_state(wine), None)


def main():
    if len(sys.argv) != 3:
        sys.exit(__doc__)
    bin_dir, work_dir = sys.argv[1:]
    deps = os.environ.get("VORMA_DEPS_DIR") or "/opt/vorma-deps"
    mib_dir = os.path.join(deps, "node_modules", "net-snmp", "lib", "mibs")
    if not os.path.isdir(mib_dir):
        winesession.skip(f"the npm package net-snmp is not installed under {deps} "
                         "(run scripts/install-deps.sh or set VORMA_DEPS_DIR)")
    for tool in ("snmptrap", "snmpinform"):
        if shutil.which(tool) is None:
            winesession.skip(f"{tool} (Debian's snmp) is not installed")
    winesession.enter_private_network()

    checks = Checks()
    with WineSession(work_dir) as wine:
        root = wine.install_product([MANAGER], bin_dir)
        wine.link_mibs(mib_dir)
        write_installation(root)
        run_scenario(wine, NetSnmpTools(os.path.join(wine.folder, "net-snmp")), checks)
        if checks.failed:
            print("--- events of the services ---")
            with open(wine.system_log, encoding="utf-8", errors="replace") as f:
                print(f.read())
            report = os.path.join(root, "Common", "snmp", "logs", "VormaSnmpManager.txt")
            if os.path.exists(report):
                with open(report, encoding="cp932", errors="replace") as f:
                    print("--- MIB report ---\n" + f.read())
    return checks.finish()


if __name__ == "__main__":
    sys.exit(main())
