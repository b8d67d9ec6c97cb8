#pragma once
// Constants of the IPC transport: command types, command-queue items, result
// codes, pipe names and timing.
#include <windows.h>
#include <cstdint>

// Command types of the wire record.
constexpr uint32_t OIPC_REQUEST = 1;   // post a provider message, no answer
constexpr uint32_t OIPC_RESULT = 2;    // the answer to a query
constexpr uint32_t OIPC_QUERY = 3;     // send a provider message and wait for the answer
constexpr uint32_t OIPC_ADVISE = 4;    // register a remote listener
constexpr uint32_t OIPC_NOTIFY = 5;    // a broadcast relayed to a remote listener

// Items of a peer's command queue.
constexpr uint32_t CMDQ_SEND_REQUEST = 0;
constexpr uint32_t CMDQ_RECEIVE_REQUEST = 1;
constexpr uint32_t CMDQ_RECEIVE_QUERY = 2;

// Result codes of the transport.
constexpr uint32_t IPC_RESULT_OUT_OF_MEMORY = 0x10020004;      // in Send
constexpr uint32_t IPC_RESULT_QUERY_NOT_SENT = 0x10020009;
constexpr uint32_t IPC_RESULT_RESULT_NOT_RECEIVED = 0x1002000a;
constexpr uint32_t IPC_RESULT_ALREADY_STARTED = 0x1002000c;
constexpr uint32_t IPC_RESULT_QUERY_TIMED_OUT = 0x1002000d;
constexpr uint32_t IPC_RESULT_NOT_CREATED = 0x1002000e;       // event, thread or pipe server
constexpr uint32_t IPC_RESULT_NO_PIPE_NAME = 0x1002000f;
constexpr uint32_t IPC_RESULT_NO_LISTENER = 0x10020010;       // nobody serves the pipe

// Pipes.
#define IPC_PIPE_NAME_FORMAT L"\\\\.\\pipe\\%s"
#define IPC_RETURN_PIPE_FORMAT L"qvipc_%x_%x_%x"
#define IPC_SESSION_PIPE L"QVIPCCERULEANSESSION"
#define IPC_SYSTEM_PIPE L"QVIPCCERULEANSYSTEM"
#define IPC_STOP_EVENT_PREFIX L"StopEvent_"
constexpr size_t IPC_PIPE_NAME_CAPACITY = 260;     // code units of a full pipe name
constexpr DWORD IPC_PIPE_CHUNK = 1024;             // bytes per read or write, and pipe buffers
constexpr DWORD IPC_RECEIVE_BUFFER = 512000;       // bytes gathered before appending
constexpr DWORD IPC_PIPE_MAX_INSTANCES = 255;
constexpr DWORD IPC_PIPE_DEFAULT_TIMEOUT_MS = 1000;
constexpr DWORD IPC_PIPE_BUSY_RETRIES = 5;
constexpr DWORD IPC_PIPE_BUSY_SLEEP_MS = 100;
constexpr DWORD IPC_CLIENT_BUSY_WAIT_MS = 20000;
constexpr DWORD IPC_STOP_CHECK_MS = 100;           // a message being read asks its stop object this often

// Peer timing.
constexpr DWORD IPC_QUERY_TIMEOUT_MS = 30000;      // a query's answer must come within this
constexpr DWORD IPC_THREAD_STOP_WAIT_MS = 10000;   // accept and watchdog threads
constexpr DWORD IPC_QUEUE_STOP_MS = 1000;
constexpr DWORD IPC_PEER_WORKERS = 5;

// Message broker.
constexpr DWORD BROKER_SPEAKER_THREADS = 3;       // threads that call listener procedures
constexpr DWORD BROKER_STOP_TIMEOUT_MS = 5000;    // for the speakers to drain and end
constexpr uint32_t BROKER_SPEAK = 0;              // the one item of a speaker queue

// Server: the listener map's key, "%08x|%s" (class id, notify pipe name).
#define IPC_LISTENER_KEY_FORMAT L"%08x|%s"
// An unknown command type that reaches the server is answered with this
// (not a failure code, so the peer does not log it again).
constexpr uint32_t IPC_SERVER_UNKNOWN_COMMAND = 1;
// An advise carries the listener's class in the low 16 bits of its message id.
constexpr uint32_t IPC_ADVISE_CLASS_MASK = 0xFFFF;
