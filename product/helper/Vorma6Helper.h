// The product's helper library Vorma6Helper: the SOAP client of the product server.
//
// Mxh_Init reads <installation folder>/Environment/Config/MxHelper.ini. With an endpoint in its
// [Server] section (Endpoint=http://127.0.0.1:PORT/), every operation is a SOAP exchange with that
// server. Without the file or without an endpoint the library answers the operations in-process
// from the configuration section files below the installation folder, as the server would.
//
// Narrow texts (account, password, session, fault texts, Mxh_GetMessageA) are UTF-8.
#pragma once

#include <string>

#include "soapH.h"

// Prepares the library for the installation folder (no trailing separator). False when the folder
// does not exist or MxHelper.ini exists but cannot be read. `reserved` is not used; callers pass
// false. A second call replaces what the first one prepared.
bool Mxh_Init(const wchar_t* installDir, bool reserved);

// Releases what Mxh_Init prepared. Harmless when it was never called or failed.
void Mxh_Fini();

// The library's client context, to be copied with soap_copy for a connection. Null before a
// successful Mxh_Init and after Mxh_Fini.
struct soap* Mxh_GetClientSoapObj();

// Privileges of the calling process for the exchange. POSIX processes have nothing of this kind to
// enable, so it only reports success.
bool Mxh_SetPrivilege();

// The wide and the narrow (UTF-8) text of a message number (see HelperMessages.h).
std::wstring Mxh_GetMessageW(int number);
std::string Mxh_GetMessageA(int number);

// The server operations, on a copy of the client context. Each returns 0 or the result of the
// failed exchange (gSOAP's error numbers; -1 when it ended early, the context's errnum then holding
// the system error, if any). After a result of 0 the context's header holds the server's header;
// after 2 or 12 its fault holds the server's fault and detail. The response arguments may be null.
// Before a successful Mxh_Init they return 11 (SOAP_FATAL_ERROR).
int ns1__Login(struct soap* soap, char* account, char* password,
               struct ns1__LoginResponse* response);
int ns1__GetAppConfig(struct soap* soap, wchar_t* section, ns1__Config* config);
int ns1__Logoff(struct soap* soap, struct ns1__LogoffResponse* response);
