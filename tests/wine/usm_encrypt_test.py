#!/usr/bin/env python3
"""The settings encryption tool as an administrator runs it on Windows, under Wine:

  usm_encrypt_test.py BIN_DIR WORK_DIR

VormaSnmpUsmEncrypt.exe of BIN_DIR is installed in a product installation of a private Wine
prefix (made in WORK_DIR, which is emptied first and removed at the end) on a Japanese system. It
must find the installation through the registry only, convert both settings files, GetOIDList.txt
and SnmpV3Setting.txt (code page 932): every plain pass phrase enciphered to the known answers of
the settings cipher, the rest of each line written in the tool's form, the originals kept as
backups; a second run must decipher what the first one wrote and write the same files again.
"""
import os
import sys

sys.dont_write_bytecode = True  # nothing of the run in the source folder
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from winesession import INSTALL_DIR, Checks, WineSession  # noqa: E402

TOOL = "VormaSnmpUsmEncrypt.exe"
TOOL_PATH = INSTALL_DIR + r"\bin" + "\\" + TOOL

SUCCEEDED = "SNMP指定ファイルの変換に成功しました。\n"
NOT_INSTALLED = "VORMAがインストールされていません。\n"

# Known answers of the settings cipher (MD5 and RC2 with the built-in pass phrase).
PASSWORD = "AhKYwoX5n5A="                       # "password"
PASSPHRASE9 = "cnmJ723B/iRjL8A+CJOC0A=="         # "passphrase9"
ABCDEFGH12345678 = "23yrVLw9iQyMJg79tEYHjQ=="    # "abcdefgh12345678"
JAPANESE_PASSWORD = "Yc6k7DUpGoM1tfHSudftyA=="   # "パスワード" in code page 932

# (line as an administrator writes it, line as the tool writes it)
GET_LINES = [
    ("-v:3 -u:monitor -e:8000000001020304 -a:SHA -AP:password -x:AES -XP:passphrase9 "
     "-agent:udp6:[fe80::1]:161 -oid:sysUpTime.0",
     f'-v:3 -u:"monitor" -e:8000000001020304 -a:SHA -A:"{PASSWORD}" -x:AES -X:"{PASSPHRASE9}" '
     "-agent:udp6:[fe80::1]:161 -oid:sysUpTime.0"),
    ("-v:2c -c:public -agent:10.0.0.1 -oid:1.3.6.1.2.1.1.3.0",
     '-v:2c -c:"public" -agent:10.0.0.1 -oid:1.3.6.1.2.1.1.3.0'),
    # A user name and a pass phrase beyond ASCII; 表 ends in the byte of a backslash.
    ("-v:3 -u:監視表 -a:MD5 -AP:パスワード -agent:h -oid:o",
     f'-v:3 -u:"監視表" -a:MD5 -A:"{JAPANESE_PASSWORD}" -agent:h -oid:o'),
    # A pass phrase already enciphered stays as it is beside one that is not.
    (f"-v:3 -u:m2 -a:MD5 -A:{PASSWORD} -x:DES -XP:abcdefgh12345678 -agent:h -oid:o",
     f'-v:3 -u:"m2" -a:MD5 -A:"{PASSWORD}" -x:DES -X:"{ABCDEFGH12345678}" -agent:h -oid:o'),
]
USM_LINES = [
    ("-e:8000000001020304 -u:monitor -a:SHA -AP:password -x:AES -XP:passphrase9",
     f'-u:"monitor" -e:8000000001020304 -a:SHA -A:"{PASSWORD}" -x:AES -X:"{PASSPHRASE9}"'),
    (f"--u:u3 /e:80000000010203040506 -x:DES -X:{PASSPHRASE9} -a:SHA -A:\"{PASSWORD}\"",
     f'-u:"u3" -e:80000000010203040506 -a:SHA -A:"{PASSWORD}" -x:DES -X:"{PASSPHRASE9}"'),
    ("-u:plain -e:8000000001020304", '-u:"plain" -e:8000000001020304'),
]


def cp932(lines, end):
    return "".join(line + end for line in lines).encode("cp932")


def read(path):
    with open(path, "rb") as f:
        return f.read()


def write(path, data):
    with open(path, "wb") as f:
        f.write(data)


def run_scenario(wine, config, checks):
    files = {
        # (the file, its backup, what an administrator wrote, what the tool must write)
        "GetOIDList.txt": ("GetOIDList_back.txt",
                           cp932([line for line, _ in GET_LINES], "\n"),
                           cp932([line for _, line in GET_LINES], "\r\n")),
        "SnmpV3Setting.txt": ("SnmpV3Setting_back.txt",
                              cp932([line for line, _ in USM_LINES], "\r\n"),
                              cp932([line for _, line in USM_LINES], "\r\n")),
    }
    for name, (_, original, _) in files.items():
        write(os.path.join(config, name), original)

    # Without InstallDir the tool finds no installation and touches nothing.
    wine.set_install_dir(None)
    checks.equal("without InstallDir the tool ends with 100 and says why",
                 wine.text([TOOL_PATH]), (100, NOT_INSTALLED))
    for name, (backup, original, _) in files.items():
        checks.equal(f"without InstallDir {name} is untouched",
                     read(os.path.join(config, name)), original)
        checks.true(f"without InstallDir there is no {backup}",
                    not os.path.exists(os.path.join(config, backup)))

    wine.set_install_dir(INSTALL_DIR)
    checks.equal("the tool converts both files", wine.text([TOOL_PATH]), (0, SUCCEEDED))
    for name, (backup, original, converted) in files.items():
        checks.equal(f"{name} holds enciphered pass phrases in the tool's form",
                     read(os.path.join(config, name)), converted)
        checks.equal(f"{backup} holds the original", read(os.path.join(config, backup)),
                     original)

    # The second run reads the enciphered pass phrases back (a phrase that does not decipher
    # would be dropped) and enciphers them again with the same key.
    checks.equal("a second run succeeds", wine.text([TOOL_PATH]), (0, SUCCEEDED))
    for name, (backup, _, converted) in files.items():
        checks.equal(f"the second run writes {name} again unchanged",
                     read(os.path.join(config, name)), converted)
        checks.equal(f"{backup} now holds the first run's output",
                     read(os.path.join(config, backup)), converted)


def main():
    if len(sys.argv) != 3:
        sys.exit(__doc__)
    bin_dir, work_dir = sys.argv[1:]
    checks = Checks()
    with WineSession(work_dir) as wine:
        root = wine.install_product([TOOL], bin_dir)
        run_scenario(wine, os.path.join(root, "Common", "snmp", "Config"), checks)
    return checks.finish()


if __name__ == "__main__":
    sys.exit(main())
