#pragma once
// Listens on one named pipe with overlapped I/O and gathers the bytes that one
// writer sends over one connection; the message ends when the writer closes.
#include <windows.h>
#include <memory>
#include <string>
#include <vector>
#include "IpcDefs.h"
#include "QvHandle.h"

class CPipeServer {
public:
    CPipeServer();
    ~CPipeServer();
    CPipeServer(const CPipeServer&) = delete;
    CPipeServer& operator=(const CPipeServer&) = delete;

    // stopEvent may be null: the server then makes and owns its own.
    bool Initial(const wchar_t* name, HANDLE stopEvent);
    // A waitable timer as stop object, armed with the period before every read.
    bool Initial(const wchar_t* name, DWORD seconds);
    bool Initialize(const wchar_t* name, HANDLE stopObject);

    // One wait and at most one read into buffer; size is in/out.
    bool Recv(BYTE* buffer, DWORD* size);
    // True when a whole message (possibly empty) was gathered; false when the
    // stop object was signalled or the output could not grow.
    bool FetchCmd(std::string& output);

    bool ConnectToNewClient(HANDLE pipe, OVERLAPPED* overlapped, DWORD* pending);
    bool DisconnectAndReconnect(DWORD index);

    HANDLE GetStopObject() const { return m_stopObject; }

    // Bounds every wait from now on: once timeoutMs have passed, the stop
    // object (if any) is signalled and the server answers as if it had been
    // stopped.
    void SetDeadline(DWORD timeoutMs);
    bool Expired() const { return m_expired; }

private:
    enum : DWORD { STATE_CONNECTING = 0, STATE_READING = 1 };

    struct Instance {
        OVERLAPPED overlapped;           // without event: the pipe handle is waited on
        QvCommon::UniqueHandle pipe;
        DWORD state = STATE_CONNECTING;
        DWORD pending = 0;
        // The writer has gone and the instance takes the next one at the
        // next read (see WriterLeft).
        bool ended = false;
    };

    bool CreateInstance(DWORD index, SECURITY_ATTRIBUTES* security);
    bool IsStopSignaled() const;
    bool StopRequested();
    bool ReconnectEnded();
    bool NextInstance(DWORD* index);
    // Waits for an overlapped read to finish, unless the stop object or the
    // deadline ends the wait.
    bool FinishRead(DWORD index, DWORD* size);
    void WriterLeft(DWORD index);
    DWORD WaitTime() const;
    void Expire();

    DWORD m_instanceCount = 0;
    std::vector<HANDLE> m_waitHandles;        // instance pipes, then the stop object
    Instance m_instances[IPC_PIPE_MAX_INSTANCES];
    HANDLE m_stopObject = nullptr;
    QvCommon::UniqueHandle m_ownedStopObject;   // the stop object, when the server made it
    DWORD m_timerPeriod = 0;
    ULONGLONG m_deadline = 0;   // GetTickCount64 value; 0 for none
    bool m_expired = false;
    bool m_stopSeen = false;          // in this FetchCmd
    ULONGLONG m_stopCheckedAt = 0;    // when the stop object was last asked
    std::unique_ptr<BYTE[]> m_buffer;         // IPC_RECEIVE_BUFFER bytes
    wchar_t m_pipeName[IPC_PIPE_NAME_CAPACITY];
};

// Connects to a named pipe and writes one block of bytes to it. A reader that
// takes nothing of a chunk for writeTimeoutMs ends the write, so that no
// reader can hold the writing thread.
class CPipeClient {
public:
    explicit CPipeClient(DWORD writeTimeoutMs = IPC_QUERY_TIMEOUT_MS) : m_writeTimeoutMs(writeTimeoutMs) {}
    bool Initial(const wchar_t* name);
    bool Send(const BYTE* data, DWORD* size);
    HANDLE GetHandle() const { return m_pipe.get(); }
    void Close() { m_pipe.reset(); }

private:
    bool WriteChunk(const BYTE* data, DWORD length, DWORD* written);

    QvCommon::UniqueHandle m_pipe;
    DWORD m_writeTimeoutMs;
};
