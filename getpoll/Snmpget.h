// Runs of the installation's snmpget tool, one GET request each.
//
// The tool is <installation folder>/bin/snmpget (snmpget.exe on Windows), given the MIB folder
// <installation folder>/Common/snmp/mibs with -M, the protocol options of the request, the agent
// and the object identifier. Its standard output and standard error share one pipe, and its
// standard input is the manager's own. Success is exit code 0; the answer is the text that the
// tool wrote, read as code page 932.
#pragma once

#include <string>

#include "getpoll/GetOidEntry.h"

// The arguments for one request, each piece preceded by a blank:
//   version 1/2c:  -v VERSION -c "COMMUNITY"                  (the community is always written)
//   version 3:     [-e ENGINEID] -u USER then
//                  -l noAuthNoPriv                            (no authentication protocol)
//                  -a AUTH -A "PASS" -l authNoPriv            (no privacy protocol)
//                  -a AUTH -A "PASS" -x PRIV -X "PASS" -l authPriv
// and last the agent and the OID, unquoted (a blank in either makes two arguments).
std::wstring BuildSnmpgetArguments(const GetOidEntry& entry);

// The whole command line: the tool, -M and the quoted MIB folder, a blank and `arguments`. Each
// path is joined to the installation folder with exactly one separator, whether or not the folder
// ends in one; the tool's path is quoted only when it holds a blank.
std::wstring BuildSnmpgetCommandLine(const std::wstring& installDir, const std::wstring& arguments);

// Runs the tool for `arguments` and waits for it to end, however long that takes, draining the
// pipe every 100 ms. True when it exited with code 0: `output` then holds everything the tool
// wrote, every read joined in order, up to a NUL byte if it writes one. False on a failure:
// `output` then holds the failure message, for a non-zero exit code followed by CR LF and the
// tool's text:
//   "パラメーターが指定されていません。"               empty `arguments`; nothing is started
//   "パイプの作成に失敗しました。[%d]"                 system error code
//   "プロセスの生成に失敗しました。[0x%08lx]"          system error code (2: no such program)
//   "エラーが発生しました。[%d]"                       the wait for the tool failed
//   "プロセスの終了コード取得に失敗しました。[%d]"     system error code
//   "snmpgetの実行に失敗しました。[%d]\r\n%s"          exit code, the tool's text
// The tool is never stopped by the manager.
bool RunSnmpget(const std::wstring& installDir, const std::wstring& arguments,
                std::wstring& output);
