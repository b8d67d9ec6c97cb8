#pragma once
// The baseline: the same connection discipline as the IPC library, written
// directly on Win32. The asker creates its return pipe first, connects to the
// server's pipe, writes [name length][return pipe name][body] and closes; the
// server reads until the writer's close, connects to the return pipe, writes
// the body back and closes.
#include <windows.h>
#include <functional>
#include <string>

// How a message is written: in one write through 4 KiB pipe buffers, or as
// the IPC library's wire protocol does, in 1 KiB writes through 1 KiB buffers.
enum class Chunking { Whole, OneKiB };

// Reads one message per connection (until the writer closes) and hands it to
// onMessage, on this thread, until the quit event is signalled.
void RunRawListener(const std::wstring& pipe, Chunking chunking, HANDLE ready, HANDLE quit,
                    const std::function<void(const std::string&)>& onMessage);

// Serves the pipe until the quit event is signalled; answers on this thread,
// or with handOver on a second thread that each query is handed to.
void RunRawServer(const std::wstring& pipe, Chunking chunking, HANDLE ready, HANDLE quit, bool handOver = false);

// One connection that writes data and closes; false when any step failed.
bool RawSend(const std::wstring& pipe, Chunking chunking, const std::string& data);

// One query; returns false when any step failed.
bool RawQuery(const std::wstring& pipe, Chunking chunking, const std::wstring& body, std::wstring& reply);
