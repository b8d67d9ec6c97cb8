#pragma once
// The configuration record handed to the tracing library QvDbg32.dll, and its
// entry points. The layout is binary and shared with that library.
#include <windows.h>
#include <cstddef>

#pragma pack(push, 1)
struct QvDbgConfig {
    BYTE serviceSession;        // 0
    BYTE protectedSession;      // 1
    BYTE robust;                // 2
    BYTE debugger;              // 3
    SYSTEMTIME localTime;       // 4
    DWORD logProcess;           // 20
    DWORD logUnitType;          // 24
    WCHAR moduleName[32];       // 28
    WCHAR logFolder[260];       // 92
    WCHAR logPrefix[256];       // 612
    WCHAR logFile[256];         // 1124
    WCHAR logExtension[256];    // 1636
};
#pragma pack(pop)

static_assert(sizeof(QvDbgConfig) == 2148, "QvDbgConfig size");
static_assert(offsetof(QvDbgConfig, serviceSession) == 0, "offset");
static_assert(offsetof(QvDbgConfig, protectedSession) == 1, "offset");
static_assert(offsetof(QvDbgConfig, robust) == 2, "offset");
static_assert(offsetof(QvDbgConfig, debugger) == 3, "offset");
static_assert(offsetof(QvDbgConfig, localTime) == 4, "offset");
static_assert(offsetof(QvDbgConfig, logProcess) == 20, "offset");
static_assert(offsetof(QvDbgConfig, logUnitType) == 24, "offset");
static_assert(offsetof(QvDbgConfig, moduleName) == 28, "offset");
static_assert(offsetof(QvDbgConfig, logFolder) == 92, "offset");
static_assert(offsetof(QvDbgConfig, logPrefix) == 612, "offset");
static_assert(offsetof(QvDbgConfig, logFile) == 1124, "offset");
static_assert(offsetof(QvDbgConfig, logExtension) == 1636, "offset");

// Exports of QvDbg32.dll.
#define QVDBG_LIBRARY_NAME L"QvDbg32.dll"
#define QVDBG_ENTRY_INITIALIZE "QvDbgInitialize"
#define QVDBG_ENTRY_UNINITIALIZE "QvDbgUninitialize"
#define QVDBG_ENTRY_TRACE "QvDbgTrace"

extern "C" {
typedef DWORD (WINAPI *PFN_QvDbgInitialize)(DWORD* handle, const QvDbgConfig* config);
typedef DWORD (WINAPI *PFN_QvDbgTrace)(DWORD handle, const SYSTEMTIME* localTime, const WCHAR* text);
typedef DWORD (WINAPI *PFN_QvDbgUninitialize)(DWORD handle);
}
