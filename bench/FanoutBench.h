#pragma once
// Broadcast fan-out: from a CIpcServer's broadcast until every listening
// client process has received it, for 1, 10 and 50 listeners, against a raw
// baseline that writes the same bytes to as many raw listener processes over
// one connection each, from as many threads as the broker has speakers.
#include <windows.h>
#include <string>

// ipc_bench listen-ipc <server-pipe> <semaphore> <ready> <quit>: a CIpcClient
// listening for the benchmark's class; releases the semaphore once per
// notification. Exit code: the notifications received.
int ListenIpc(const std::wstring& serverPipe, const std::wstring& semaphore, HANDLE ready, HANDLE quit);

// ipc_bench listen-raw <pipe> <semaphore> <ready> <quit>: the same on a raw
// pipe. listen-raw-handover: the reading thread hands each message to a
// second thread that releases the semaphore, as the library's listener hands
// it to its broker's speaker thread.
int ListenRaw(const std::wstring& pipe, const std::wstring& semaphore, bool handOver, HANDLE ready, HANDLE quit);

// Prints the fan-out figures; false when a listener did not start.
bool RunFanoutBench();

enum class FanoutSide { Library, Raw, RawHandOver };

// `broadcasts` broadcasts, after a warm-up, to 10 listener processes through
// one side, and nothing else: the kernel-call count of
// scripts/count-server-calls.sh. False when any notification was lost.
bool CountFanoutCalls(FanoutSide side, int broadcasts);
