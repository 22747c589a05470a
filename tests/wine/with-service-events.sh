#!/usr/bin/env bash
# Runs COMMAND while Wine's system processes write the event channels into LOG:
#
#   with-service-events.sh LOG COMMAND...
#
# A service runs as a child of Wine's services.exe and writes its debug output (what ReportEventW
# was given, see eventlog.py) where services.exe does. So the Wine session is restarted with its
# system processes writing to LOG, COMMAND runs (it may install, start, stop and delete services),
# and the session is restarted quiet again afterwards. Restarting ends every Wine process of the
# prefix: tests that use this must run alone (ctest RUN_SERIAL).
set -u
log=$1
shift
restart() {
    wineserver -k >/dev/null 2>&1
    wineserver -w >/dev/null 2>&1
    wineserver -p >/dev/null 2>&1 </dev/null
}
restart
WINEDEBUG=-all,+eventlog,fixme+advapi wine cmd /c exit >/dev/null 2>>"$log" </dev/null
"$@"
rc=$?
restart
wine cmd /c exit >/dev/null 2>&1 </dev/null
exit $rc
