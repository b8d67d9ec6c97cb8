/* Stand-ins for QvDbg32.dll that the debug log must refuse, built twice:
 * QVDBG_BROKEN_NO_TRACE lacks the trace entry point; QVDBG_BROKEN_ZERO_HANDLE
 * has all three but opens sessions with the handle 0. */
#include <windows.h>

__declspec(dllexport) DWORD WINAPI QvDbgInitialize(DWORD* handle, const void* config) {
    (void)config;
#ifdef QVDBG_BROKEN_ZERO_HANDLE
    *handle = 0;
#else
    *handle = 1;
#endif
    return 0;
}

__declspec(dllexport) DWORD WINAPI QvDbgUninitialize(DWORD handle) {
    (void)handle;
    return 0;
}

#ifndef QVDBG_BROKEN_NO_TRACE
__declspec(dllexport) DWORD WINAPI QvDbgTrace(DWORD handle, const SYSTEMTIME* time, const WCHAR* text) {
    (void)handle, (void)time, (void)text;
    return 0;
}
#endif
