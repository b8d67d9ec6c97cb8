#pragma once
// The full client path: CIpcClient's send to a CIpcServer in another process,
// through a provider controller, against the raw baseline of the same run.
#include <windows.h>
#include <string>

// ipc_bench serve-ipc <pipe> <ready> <quit>
int ServeIpc(const std::wstring& pipe, HANDLE ready, HANDLE quit);

// Prints the client figures; the pipes are served by raw baseline servers,
// the second one writing 1 KiB chunks.
bool RunClientBench(const std::wstring& rawPipe, const std::wstring& raw1kPipe);

// Only queries of 100 characters, as many as --count says (for counting calls).
bool CountClientCalls();
