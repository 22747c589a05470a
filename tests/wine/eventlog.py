#!/usr/bin/env python3
"""The Windows event log as Wine shows it.

Wine keeps no event log: ReportEventW prints the event's identifiers on the advapi fixme channel
and each insertion string on the eventlog channel (as an error, warning or trace line by the
event's type). This reads those lines back into events.

  eventlog.py parse FILE              print the events of Wine output kept in FILE
  eventlog.py run -- COMMAND...       run COMMAND under Wine's event channels, print one JSON
                                      object per event: {"id", "type", "category", "strings"}
  eventlog.py expect --event JSON ... -- COMMAND...
                                      run COMMAND and check that it exits with 0 and that its
                                      events are exactly the given ones, in order
"""
import argparse
import json
import os
import re
import subprocess
import sys

CHANNELS = "-all,+eventlog,fixme+advapi"

_REPORT = re.compile(
    r"^(?P<tid>[0-9a-f]+):fixme:advapi:ReportEventW \((?P<args>[^)]*)\)")
_STRING = re.compile(
    r'^(?P<tid>[0-9a-f]+):(?:err|warn|trace):eventlog:ReportEventW L"(?P<text>.*)"$')


def _unescape(text):
    """Undoes Wine's debugstr_w: \\n \\r \\t \\\\ \\" and \\XXXX for everything else."""
    out = []
    i = 0
    while i < len(text):
        c = text[i]
        if c != "\\" or i + 1 >= len(text):
            out.append(c)
            i += 1
            continue
        n = text[i + 1]
        simple = {"n": "\n", "r": "\r", "t": "\t", "\\": "\\", '"': '"'}
        if n in simple:
            out.append(simple[n])
            i += 2
        elif re.match(r"[0-9a-fA-F]{4}", text[i + 1:i + 5]):
            out.append(chr(int(text[i + 1:i + 5], 16)))
            i += 5
        else:
            out.append(c)
            i += 1
    joined = "".join(out)
    # Surrogate pairs arrive as two escapes.
    return joined.encode("utf-16-le", "surrogatepass").decode("utf-16-le", "replace")


def parse(lines):
    events = []
    current = {}
    for line in lines:
        line = line.rstrip("\n")
        m = _REPORT.match(line)
        if m:
            args = [a.strip() for a in m.group("args").split(",")]
            event = {"id": int(args[3], 16), "type": int(args[1], 16),
                     "category": int(args[2], 16), "strings": []}
            events.append(event)
            current[m.group("tid")] = event
            continue
        m = _STRING.match(line)
        if m and m.group("tid") in current:
            current[m.group("tid")]["strings"].append(_unescape(m.group("text")))
    return events


def run(command):
    env = dict(os.environ, WINEDEBUG=CHANNELS)
    proc = subprocess.run(command, env=env, stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                          check=False)
    text = proc.stderr.decode("utf-8", "replace")
    return proc.returncode, parse(text.splitlines()), text


def main():
    argv = sys.argv[1:]
    if argv[:1] == ["parse"] and len(argv) == 2:
        with open(argv[1], encoding="utf-8", errors="replace") as f:
            for event in parse(f):
                print(json.dumps(event, ensure_ascii=False))
        return 0
    if "--" not in argv:
        sys.exit(__doc__)
    split = argv.index("--")
    parser = argparse.ArgumentParser()
    parser.add_argument("mode", choices=["run", "expect"])
    parser.add_argument("--event", action="append", default=[])
    args = parser.parse_args(argv[:split])
    command = argv[split + 1:]
    code, events, text = run(command)
    if args.mode == "run":
        for event in events:
            print(json.dumps(event, ensure_ascii=False))
        return code
    expected = [json.loads(e) for e in args.event]
    seen = [{k: e[k] for k in ("id", "type", "strings")} for e in events]
    ok = code == 0 and seen == expected
    print(f"exit code {code}; events seen: {json.dumps(seen, ensure_ascii=False)}")
    if not ok:
        print(f"expected: {json.dumps(expected, ensure_ascii=False)}\n--- Wine output ---\n{text}")
    print("1 passed, 0 failed" if ok else "0 passed, 1 failed")
    return 0 if ok else 1


if __name__ == "__main__":
    sys.exit(main())
