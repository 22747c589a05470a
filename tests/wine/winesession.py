"""A Wine session of its own for a test that runs the programs as an administrator would.

Such a test must not meet the Wine session of the build nor another test: it has a private Wine
prefix, hence its own wineserver, kept alive with `wineserver -p` so that a service is not shut
down when the last of the test's Wine processes ends. A test that listens on UDP port 162 runs in
a private network namespace besides (enter_private_network), with a loopback and a port 162 of
its own.

Wine keeps no event log: what ReportEventW is given shows on the debug channels (eventlog.py).
A service runs as a child of the prefix's services.exe and writes where it does, so the prefix's
system processes are started with the event channels on and their standard error in a file of the
session (system_events()).

Programs are installed as the product installs them: the installation folder C:\\Vorma 6 inside
the prefix (with a blank, as installations often have), the programs and libeay32.dll in its bin
folder, and its path in InstallDir of the product key (32-bit registry view).
"""
import os
import shutil
import subprocess
import sys

import eventlog

SKIP = 77  # ctest's SKIP_RETURN_CODE of these tests

PRODUCT_KEY = r"HKLM\SOFTWARE\Quillon\VORMAW6"
INSTALL_DIR = r"C:\Vorma 6"
# Upper bounds that only keep a broken run from hanging the suite.
COMMAND_GUARD = 180
# Seconds the session's wineserver and its services stay after the last other Wine process.
SERVER_PERSISTENCE = 300


def skip(why):
    print(f"skipped: {why}")
    sys.exit(SKIP)


def enter_private_network():
    """Runs the calling script again in a network namespace of its own with the loopback up;
    returns in that copy. Skips the test where namespaces cannot be made (not root)."""
    if os.environ.get("VORMA_WINE_PRIVATE_NET") == "1":
        subprocess.run(["ip", "link", "set", "lo", "up"], check=True)
        return
    if shutil.which("unshare") is None or shutil.which("ip") is None:
        skip("unshare and ip are needed for a private network namespace")
    probe = subprocess.run(["unshare", "-n", "true"], stderr=subprocess.DEVNULL, check=False)
    if probe.returncode != 0:
        skip("cannot make a network namespace (root is needed)")
    env = dict(os.environ, VORMA_WINE_PRIVATE_NET="1")
    sys.stdout.flush()
    os.execvpe("unshare", ["unshare", "-n", sys.executable] + sys.argv, env)


class WineSession:
    """A private Wine prefix and its wineserver in a temporary folder, removed at the end."""

    def __init__(self, folder):
        """`folder` is the session's own: what an earlier run left there (one that was killed)
        is removed first, everything at the end."""
        for tool in ("wine", "wineboot", "wineserver"):
            if shutil.which(tool) is None:
                skip(f"{tool} is not installed")
        self.folder = os.path.abspath(folder)
        shutil.rmtree(self.folder, ignore_errors=True)
        os.makedirs(self.folder)
        self.prefix = os.path.join(self.folder, "prefix")
        self.system_log = os.path.join(self.folder, "system-events.log")
        # A Japanese system (code page 932) as the product's servers are, headless, without the
        # Mono and Gecko installers.
        self.env = dict(os.environ, WINEPREFIX=self.prefix, WINEARCH="win64",
                        WINEDLLOVERRIDES="mscoree,mshtml=", WINEDEBUG="-all",
                        LANG="ja_JP.UTF-8", LC_MESSAGES="C.UTF-8")
        for name in ("LC_ALL", "DISPLAY", "WAYLAND_DISPLAY"):
            self.env.pop(name, None)

    def __enter__(self):
        try:
            self._start()
        except BaseException:
            self.close()
            raise
        return self

    def __exit__(self, *exc):
        self.close()

    def _tool(self, args, **kwargs):
        return subprocess.run(args, env=self.env, stdin=subprocess.DEVNULL,
                              stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                              timeout=COMMAND_GUARD, check=False, **kwargs)

    def _start(self):
        if self._tool(["wineboot", "--init"]).returncode != 0:
            raise RuntimeError("wineboot --init failed")
        # wineboot's system processes end with its server; then the server of the session,
        # kept alive between the test's Wine processes, and the system processes again, now
        # writing the event channels. The server outlives its last process by a bounded time
        # only, so that a run that is killed leaves nothing running for long.
        self._tool(["wineserver", "-k"])
        self._tool(["wineserver", "-w"])
        self._tool(["wineserver", f"-p{SERVER_PERSISTENCE}"])
        with open(self.system_log, "ab") as log:
            env = dict(self.env, WINEDEBUG=eventlog.CHANNELS)
            subprocess.run(["wine", "cmd", "/c", "exit"], env=env, stdin=subprocess.DEVNULL,
                           stdout=subprocess.DEVNULL, stderr=log, timeout=COMMAND_GUARD,
                           check=True)

    def close(self):
        if os.path.isdir(self.prefix):
            self._tool(["wineserver", "-k"])
            self._tool(["wineserver", "-w"])
        shutil.rmtree(self.folder, ignore_errors=True)

    def unix_path(self, windows_path):
        """A path below drive C: of the prefix."""
        drive, rest = windows_path.split(":", 1)
        assert drive.upper() == "C"
        return os.path.join(self.prefix, "drive_c", *[p for p in rest.split("\\") if p])

    def wine(self, args, events=False):
        """Runs a Windows program: (exit code, standard output as bytes, the events it
        reported). Wine's exit status keeps the low 8 bits of the exit code."""
        env = dict(self.env, WINEDEBUG=eventlog.CHANNELS) if events else self.env
        proc = subprocess.run(["wine"] + args, env=env, stdin=subprocess.DEVNULL,
                              stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                              timeout=COMMAND_GUARD, check=False)
        found = eventlog.parse(proc.stderr.decode("utf-8", "replace").splitlines())
        return proc.returncode, proc.stdout, found

    def text(self, args):
        """(exit code, standard output) of a Wine console tool, whose output is in code page
        932 on this system."""
        code, out, _ = self.wine(args)
        return code, out.decode("cp932", "replace").replace("\r\n", "\n")

    def system_events(self):
        """Everything the services of the session have reported so far."""
        with open(self.system_log, encoding="utf-8", errors="replace") as f:
            return eventlog.parse(f)

    def key_exists(self, key):
        return self.wine(["reg", "query", key])[0] == 0

    def install_product(self, programs, bin_dir):
        """The installation folder with bin (symbolic links to the built programs and
        libeay32.dll), Common\\snmp\\{Config,Mibs,logs,Tmp} and Environment\\Config; InstallDir
        registered as the installer does it. Returns the folder's path on this side."""
        root = self.unix_path(INSTALL_DIR)
        for folder in ("bin", "Common/snmp/Config", "Common/snmp/Mibs", "Common/snmp/logs",
                       "Common/snmp/Tmp", "Environment/Config"):
            os.makedirs(os.path.join(root, folder), exist_ok=True)
        for name in list(programs) + ["libeay32.dll"]:
            source = os.path.join(bin_dir, name)
            if not os.path.isfile(source):
                raise RuntimeError(f"{source} has not been built")
            os.symlink(os.path.abspath(source), os.path.join(root, "bin", name))
        self.set_install_dir(INSTALL_DIR)
        return root

    def set_install_dir(self, value):
        """InstallDir of the product key (REG_EXPAND_SZ, 32-bit view); None removes it."""
        if value is None:
            args = ["reg", "delete", PRODUCT_KEY, "/v", "InstallDir", "/reg:32", "/f"]
        else:
            args = ["reg", "add", PRODUCT_KEY, "/v", "InstallDir", "/t", "REG_EXPAND_SZ", "/d",
                    value, "/reg:32", "/f"]
        if self.wine(args)[0] != 0:
            raise RuntimeError(f"cannot set InstallDir to {value}")

    def link_mibs(self, mib_dir):
        """The MIB modules of `mib_dir` in Common\\snmp\\Mibs, all but RFC-1215, whose macros
        do not load cleanly."""
        target = os.path.join(self.unix_path(INSTALL_DIR), "Common", "snmp", "Mibs")
        for name in sorted(os.listdir(mib_dir)):
            if name.endswith(".mib") and name != "RFC-1215.mib":
                os.symlink(os.path.join(mib_dir, name), os.path.join(target, name))


class Checks:
    """Collects the outcome of each check and prints the summary the other Wine tests print."""

    def __init__(self):
        self.passed = 0
        self.failed = 0

    def equal(self, what, actual, expected):
        if actual == expected:
            self.passed += 1
            print(f"ok: {what}")
            return True
        self.failed += 1
        print(f"FAILED: {what}\n  expected: {expected!r}\n  actual:   {actual!r}")
        return False

    def true(self, what, condition, detail=""):
        if condition:
            self.passed += 1
            print(f"ok: {what}")
            return True
        self.failed += 1
        print(f"FAILED: {what}" + (f"\n  {detail}" if detail else ""))
        return False

    def finish(self):
        print(f"{self.passed} passed, {self.failed} failed")
        return 0 if self.failed == 0 and self.passed > 0 else 1
