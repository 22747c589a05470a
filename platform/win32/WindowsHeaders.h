// The one door to the Windows headers. Every file of platform/win32 that needs the Windows API
// includes this header, and no file outside platform/win32 includes it.
#pragma once

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef UNICODE
#define UNICODE
#endif
#ifndef _UNICODE
#define _UNICODE
#endif

// Winsock 2 before windows.h, so that the old winsock.h is never pulled in.
#include <windows.h>
#include <winsock2.h>
#include <ws2tcpip.h>
// Left out by WIN32_LEAN_AND_MEAN: CommandLineToArgvW.
#include <shellapi.h>

// The A/W macros that would rename the portable layer's own member functions; the
// implementations call the W functions by their full names.
#undef CreateService
#undef OpenService
