#!/usr/bin/env bash
# Runs a Windows program of the build under Wine: the emulator of the cross build, used by ctest
# and by the test discovery.
#
# Wine keeps no event log: ReportEventW writes its identifiers and strings on Wine's debug
# channels. They go to a file of this run, named to the program in VORMA_WINE_EVENT_LOG, which the
# test helpers read as the Application log (tests/support/WineEventLog.h); the file is copied to
# standard error at the end.
log=$(mktemp "${TMPDIR:-/tmp}/vorma-wine-events.XXXXXX") || exit 125
export VORMA_WINE_EVENT_LOG="Z:${log//\//\\}"
WINEDEBUG=-all,+eventlog,fixme+advapi wine "$@" 2>>"$log"
rc=$?
cat "$log" >&2
rm -f "$log"
exit $rc
