#pragma once
// The full client path: CIpcClient's send to a CIpcServer in another process,
// through a provider controller, against the raw baseline of the same run.
#include <windows.h>
#include <string>

// ipc_bench serve-ipc <pipe> <ready> <quit>
int ServeIpc(const std::wstring& pipe, HANDLE ready, HANDLE quit);

// Prints the client figures; rawPipe is served by a raw baseline server.
bool RunClientBench(const std::wstring& rawPipe);
