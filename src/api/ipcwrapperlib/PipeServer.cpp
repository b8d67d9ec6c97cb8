#include "PipeServer.h"
#include "PipeSecurity.h"
#include "QvLog.h"

#include <algorithm>
#include <cstdio>

namespace {
constexpr DWORD PIPE_OPEN_MODE = PIPE_ACCESS_INBOUND | FILE_FLAG_OVERLAPPED;          // 0x40000001
constexpr DWORD PIPE_MODE = PIPE_TYPE_MESSAGE | PIPE_READMODE_MESSAGE | PIPE_WAIT;   // 6
constexpr LONGLONG TIMER_UNITS_PER_SECOND = 10000000;   // 100 ns units
} // namespace

CPipeServer::CPipeServer() : m_pipeName() {
    for (Instance& instance : m_instances) instance.overlapped = OVERLAPPED();
}

CPipeServer::~CPipeServer() {
    // An overlapped operation must have ended before its OVERLAPPED goes,
    // also when another thread than the one that started it ends the server.
    for (DWORD i = 0; i < m_instanceCount; ++i) {
        Instance& instance = m_instances[i];
        if (!instance.pending || !instance.pipe) continue;
        // Nothing outstanding under a stale mark: waiting would never end.
        if (!::CancelIoEx(instance.pipe.get(), &instance.overlapped) && ::GetLastError() == ERROR_NOT_FOUND)
            continue;
        DWORD ignored = 0;
        ::GetOverlappedResult(instance.pipe.get(), &instance.overlapped, &ignored, TRUE);
    }
}

bool CPipeServer::Initial(const wchar_t* name, HANDLE stopEvent) {
    if (!name) {
        QVLOG(QVLOG_ERROR, L"CPipeServer::Initial: Failed due to null pointer");
        return false;
    }
    if (!stopEvent) {
        wchar_t eventName[64];
        swprintf(eventName, 64, L"PIPE_OBJ_LOCAL_EVENT_%u", ::GetCurrentThreadId());
        m_ownedStopObject.reset(::CreateEventW(nullptr, TRUE, FALSE, eventName));
        stopEvent = m_ownedStopObject.get();
        if (!stopEvent) QVLOG(QVLOG_ERROR, L"[CPipeServer::Initial] CreateEvent PIPE_OBJ_LOCAL_EVENT Failed! err=%d",
                   ::GetLastError());
    }
    return Initialize(name, stopEvent);
}

bool CPipeServer::Initial(const wchar_t* name, DWORD seconds) {
    if (!name) {
        QVLOG(QVLOG_ERROR, L"CPipeServer::Initial: Failed due to null pointer");
        return false;
    }
    wchar_t timerName[64];
    swprintf(timerName, 64, L"PIPE_TIMER_OBJ_LOCAL_EVENT_%u", ::GetCurrentThreadId());
    m_ownedStopObject.reset(::CreateWaitableTimerW(nullptr, TRUE, timerName));
    HANDLE timer = m_ownedStopObject.get();
    if (!timer) QVLOG(QVLOG_ERROR, L"[CPipeServer::Initial] CreateEvent PIPE_TIMER_OBJ_LOCAL_EVENT Failed! err=%d",
               ::GetLastError());
    m_timerPeriod = seconds;
    return Initialize(name, timer);
}

bool CPipeServer::Initialize(const wchar_t* name, HANDLE stopObject) {
    m_instanceCount = 1;
    try {
        m_waitHandles.assign(m_instanceCount + 1, nullptr);
        m_buffer.reset(new BYTE[IPC_RECEIVE_BUFFER]);
    } catch (const std::bad_alloc&) {
        QVLOG(QVLOG_ERROR, L"CPipeServer::Initialize: Out of memory.");
        m_instanceCount = 0;
        return false;
    }
    _snwprintf_s(m_pipeName, IPC_PIPE_NAME_CAPACITY, _TRUNCATE, IPC_PIPE_NAME_FORMAT, name);
    m_stopObject = stopObject;
    m_stopCheckedAt = ::GetTickCount64();

    CPipeSecurity security;
    for (DWORD i = 0; i < m_instanceCount; ++i) {
        if (!security.Build() || !CreateInstance(i, security.Get())) return false;
    }
    m_waitHandles[m_instanceCount] = m_stopObject;
    // Without a stop object only the instances are waited for.
    if (!m_stopObject) m_waitHandles.pop_back();
    return true;
}

bool CPipeServer::CreateInstance(DWORD index, SECURITY_ATTRIBUTES* security) {
    Instance& instance = m_instances[index];
    for (DWORD busy = 0;; ++busy) {
        instance.pipe.reset(::CreateNamedPipeW(m_pipeName, PIPE_OPEN_MODE, PIPE_MODE, m_instanceCount,
                                               IPC_PIPE_CHUNK, IPC_PIPE_CHUNK,
                                               IPC_PIPE_DEFAULT_TIMEOUT_MS, security));
        if (instance.pipe) break;
        DWORD error = ::GetLastError();
        if (error != ERROR_PIPE_BUSY) {
            QVLOG(QVLOG_ERROR, L"CPipeServer::Initialize: CreateNamedPipe() failed, error=%d", error);
            return false;
        }
        if (busy == IPC_PIPE_BUSY_RETRIES) {
            QVLOG(QVLOG_ERROR, L"CPipeServer::Initialize: CreateNamedPipe() failed %d times due pipe busy. Aborted.",
                  IPC_PIPE_BUSY_RETRIES);
            return false;
        }
        ::Sleep(IPC_PIPE_BUSY_SLEEP_MS);
    }
    // The instance's one outstanding operation (a connect or a read) has no
    // event: the pipe handle itself is unsignalled while it runs and
    // signalled when it ends, so it is what the waits wait on. An event made
    // and closed per return pipe would cost every query two kernel calls.
    instance.overlapped.hEvent = nullptr;
    m_waitHandles[index] = instance.pipe.get();

    if (!ConnectToNewClient(instance.pipe.get(), &instance.overlapped, &instance.pending)) {
        QVLOG(QVLOG_ERROR, L"[CPipeServer::Initial] ConnectToNewClient failed! err=%d", ::GetLastError());
        return false;
    }
    instance.state = instance.pending ? STATE_CONNECTING : STATE_READING;
    return true;
}

bool CPipeServer::ConnectToNewClient(HANDLE pipe, OVERLAPPED* overlapped, DWORD* pending) {
    *pending = 0;
    overlapped->Offset = 0;
    overlapped->OffsetHigh = 0;
    if (::ConnectNamedPipe(pipe, overlapped)) {
        // An overlapped connect is expected to report pending, not done.
        *pending = 1;
        QVLOG(QVLOG_ERROR, L"CPipeServer::ConnectToNewClient: ConnectNamedPipe() failed, error = 0x%08x",
              ::GetLastError());
        return true;
    }
    DWORD error = ::GetLastError();
    switch (error) {
    case ERROR_IO_PENDING:
        *pending = 1;
        return true;
    case ERROR_PIPE_CONNECTED:
    case ERROR_NO_DATA:
        // A client is there already: the instance is read at once, without a wait.
        return true;
    default:
        QVLOG(QVLOG_ERROR, L"CPipeServer::ConnectToNewClient: ConnectNamedPipe() failed, error = 0x%08x",
              error);
        return false;
    }
}

bool CPipeServer::DisconnectAndReconnect(DWORD index) {
    Instance& instance = m_instances[index];
    if (!::DisconnectNamedPipe(instance.pipe.get())) {
        QVLOG(QVLOG_ERROR, L"CPipeServer::DisconnectAndReconnect: DisconnectNamedPipe() failed, error = 0x%08x",
              ::GetLastError());
        return false;
    }
    if (!ConnectToNewClient(instance.pipe.get(), &instance.overlapped, &instance.pending)) {
        QVLOG(QVLOG_ERROR, L"CPipeServer::DisconnectAndReconnect: ConnectToNewClient() failed, error = 0x%08x",
              ::GetLastError());
        return false;
    }
    instance.state = instance.pending ? STATE_CONNECTING : STATE_READING;
    instance.ended = false;
    return true;
}

bool CPipeServer::IsStopSignaled() const {
    return m_stopObject && ::WaitForSingleObject(m_stopObject, 0) == WAIT_OBJECT_0;
}

// Between chunks the stop object is asked at most every IPC_STOP_CHECK_MS:
// a message of a few chunks costs no kernel call for it, and a writer that
// streams without end is still cut off. A wait that ended on it counts.
bool CPipeServer::StopRequested() {
    if (m_stopSeen) return true;
    const ULONGLONG now = ::GetTickCount64();
    if (now - m_stopCheckedAt < IPC_STOP_CHECK_MS) return false;
    m_stopCheckedAt = now;
    m_stopSeen = IsStopSignaled();
    return m_stopSeen;
}

void CPipeServer::SetDeadline(DWORD timeoutMs) {
    m_deadline = ::GetTickCount64() + timeoutMs;
    m_expired = false;
}

DWORD CPipeServer::WaitTime() const {
    if (!m_deadline) return INFINITE;
    const ULONGLONG now = ::GetTickCount64();
    return now >= m_deadline ? 0 : static_cast<DWORD>(m_deadline - now);
}

// The deadline passed: the stop object is signalled, as a watchdog would, so
// that every wait on it ends too.
void CPipeServer::Expire() {
    m_expired = true;
    m_stopSeen = true;
    if (m_stopObject) ::SetEvent(m_stopObject);
}

bool CPipeServer::ReconnectEnded() {
    for (DWORD i = 0; i < m_instanceCount; ++i)
        if (m_instances[i].ended && !DisconnectAndReconnect(i)) return false;
    return true;
}

// The instance to read from: one that is reading with nothing outstanding is
// read at once (the read itself says whether bytes are there); otherwise the
// wait for a connection, a finished read or the stop object decides.
bool CPipeServer::NextInstance(DWORD* index) {
    for (DWORD i = 0; i < m_instanceCount; ++i) {
        if (m_instances[i].state == STATE_READING && !m_instances[i].pending) {
            *index = i;
            return true;
        }
    }
    DWORD woke = ::WaitForMultipleObjects(static_cast<DWORD>(m_waitHandles.size()),
                                          m_waitHandles.data(), FALSE, WaitTime());
    if (woke == WAIT_TIMEOUT) {
        Expire();
        *index = m_instanceCount;
        return true;
    }
    if (woke == WAIT_OBJECT_0 + m_instanceCount) m_stopSeen = true;
    if (woke == WAIT_FAILED) {
        QVLOG(QVLOG_ERROR, L"CPipeServer::Recv: WaitForMultipleObjects() failed.");
        return false;
    }
    *index = woke - WAIT_OBJECT_0;
    if (*index > m_instanceCount) {
        QVLOG(QVLOG_ERROR, L"CPipeServer::Recv: pipe count error");
        return false;
    }
    return true;
}

bool CPipeServer::Recv(BYTE* buffer, DWORD* size) {
    if (!buffer || !size) {
        QVLOG(QVLOG_ERROR, L"CPipeServer::Recv: Failed due to null pointer");
        return false;
    }
    buffer[0] = 0;
    if (m_timerPeriod && m_stopObject) {
        LARGE_INTEGER due;
        due.QuadPart = -static_cast<LONGLONG>(m_timerPeriod) * TIMER_UNITS_PER_SECOND;
        if (!::SetWaitableTimer(m_stopObject, &due, 0, nullptr, nullptr, FALSE))
            QVLOG(QVLOG_ERROR, L"SetWaitableTimer failed (%d)\n", ::GetLastError());
    }
    // Reads that find their bytes waiting never wait, so the deadline is
    // looked at here too: a writer that keeps a return pipe busy cannot hold
    // a query past it.
    if (m_deadline && ::GetTickCount64() >= m_deadline) {
        Expire();
        *size = 0;
        return true;
    }
    if (!ReconnectEnded()) return false;

    DWORD index = 0;
    if (!NextInstance(&index)) return false;
    if (index == m_instanceCount) {   // the stop object, or the deadline
        *size = 0;
        return true;
    }

    Instance& instance = m_instances[index];
    if (instance.pending) {
        DWORD transferred = 0;
        BOOL done = ::GetOverlappedResult(instance.pipe.get(), &instance.overlapped, &transferred, FALSE);
        if (instance.state == STATE_CONNECTING) {
            if (!done) {
                QVLOG(QVLOG_ERROR, L"CPipeServer::Recv: GetOverlappedResult() failed, error = 0x%08x",
                      ::GetLastError());
                return false;
            }
            instance.state = STATE_READING;
            instance.pending = 0;   // the connect is collected; nothing is outstanding
        } else if (instance.state == STATE_READING) {
            *size = transferred;
            instance.pending = 0;
            return true;
        } else {
            QVLOG(QVLOG_ERROR, L"CPipeServer::Recv: GetOverlappedResult() failed, error = 0x%08x",
                  ::GetLastError());
            return false;
        }
    }
    if (instance.state != STATE_READING) {
        QVLOG(QVLOG_ERROR, L"CPipeServer::Recv: GetOverlappedResult() failed, error = 0x%08x",
              ::GetLastError());
        return false;
    }

    DWORD read = 0;
    if (::ReadFile(instance.pipe.get(), buffer, *size, &read, &instance.overlapped)) {
        *size = read;
        if (read > 0) {
            instance.pending = 0;
            return true;
        }
        QVLOG(QVLOG_ERROR, L"CPipeServer::Recv: ReadFile() success but read 0 byte");
        WriterLeft(index);
        return false;
    }
    DWORD error = ::GetLastError();
    switch (error) {
    case ERROR_BROKEN_PIPE:
        // The writer closed its end: the message is complete.
        QVLOG(QVLOG_INFO, L"CPipeServer::Recv: ReadFile() failed due to broken pipe");
        WriterLeft(index);
        return false;
    case ERROR_MORE_DATA:
    case ERROR_HANDLE_EOF:
    case ERROR_IO_PENDING:
        instance.pending = 1;
        return FinishRead(index, size);
    default:
        QVLOG(QVLOG_ERROR, L"CPipeServer::Recv: GetOverlappedResult() failed, error = 0x%08x", error);
        WriterLeft(index);
        return false;
    }
}

// The instance takes the next writer at the next read, not now: the message
// just read is handed on first (connecting again costs three kernel calls,
// which the query would otherwise wait for), and a return pipe, which takes
// one answer, does not connect again only to cancel that when it goes.
void CPipeServer::WriterLeft(DWORD index) { m_instances[index].ended = true; }

bool CPipeServer::FinishRead(DWORD index, DWORD* size) {
    Instance& instance = m_instances[index];
    // A writer that connected and never writes must not keep the listener
    // from stopping, nor a querying peer from its deadline, so the stop
    // object and the deadline end this wait too.
    if (m_stopObject || m_deadline) {
        const HANDLE handles[] = {instance.pipe.get(), m_stopObject};
        const DWORD woke = ::WaitForMultipleObjects(m_stopObject ? 2 : 1, handles, FALSE, WaitTime());
        if (woke != WAIT_OBJECT_0) {
            if (woke == WAIT_TIMEOUT) Expire();
            m_stopSeen = true;
            DWORD ignored = 0;
            ::CancelIo(instance.pipe.get());
            ::GetOverlappedResult(instance.pipe.get(), &instance.overlapped, &ignored, TRUE);
            instance.pending = 0;
            WriterLeft(index);
            *size = 0;
            return true;
        }
    }
    DWORD transferred = 0;
    ::GetOverlappedResult(instance.pipe.get(), &instance.overlapped, &transferred, TRUE);
    *size = transferred;
    instance.pending = 0;
    if (::GetLastError() == ERROR_BROKEN_PIPE) {
        QVLOG(QVLOG_INFO, L"CPipeServer::Recv: GetOverlappedResult() failed due to broken pipe. DisconnectAndReconnect.");
        WriterLeft(index);
        return false;
    }
    return true;
}

bool CPipeServer::FetchCmd(std::string& output) {
    try {
        output.clear();
        m_stopSeen = false;
        DWORD position = 0;
        for (;;) {
            DWORD size = std::min<DWORD>(IPC_PIPE_CHUNK, IPC_RECEIVE_BUFFER - position);
            if (!Recv(m_buffer.get() + position, &size)) break;
            position += size;
            if (StopRequested()) {
                QVLOG(QVLOG_INFO, L"CPipeServer::FetchCmd: User defined object is signaled. Exiting.");
                return false;
            }
            if (position == IPC_RECEIVE_BUFFER) {
                output.append(reinterpret_cast<const char*>(m_buffer.get()), position);
                position = 0;
            }
        }
        output.append(reinterpret_cast<const char*>(m_buffer.get()), position);
        return true;
    } catch (const std::exception&) {
        QVLOG(QVLOG_ERROR, L"[CPipeServer::FetchCmd] string::append() for strCmd throw exception!");
        return false;
    }
}

bool CPipeClient::Initial(const wchar_t* name) {
    if (!name) {
        QVLOG(QVLOG_ERROR, L"CPipeClient::Initial: Failed du to null pointer");
        return false;
    }
    wchar_t fullName[IPC_PIPE_NAME_CAPACITY];
    _snwprintf_s(fullName, IPC_PIPE_NAME_CAPACITY, _TRUNCATE, IPC_PIPE_NAME_FORMAT, name);
    for (;;) {
        m_pipe.reset(::CreateFileW(fullName, GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, FILE_FLAG_OVERLAPPED,
                                   nullptr));
        if (m_pipe) break;
        DWORD error = ::GetLastError();
        if (error == ERROR_PIPE_BUSY) {
            if (!::WaitNamedPipeW(fullName, IPC_CLIENT_BUSY_WAIT_MS)) {
                QVLOG(QVLOG_ERROR, L"CPipeClient::Initial: WaitNamedPipe() failed, error=%d",
                      ::GetLastError());
                return false;
            }
            continue;
        }
        // A missing pipe is an ordinary answer for the caller, left as the last error.
        if (error == ERROR_FILE_NOT_FOUND) return false;
        QVLOG(QVLOG_ERROR, L"CPipeClient::Initial: CreateFile() failed, pipe name = %s, error=%d",
              fullName, error);
        return false;
    }
    // The handle only writes, so its read mode is left as it was opened.
    return true;
}

bool CPipeClient::Send(const BYTE* data, DWORD* size) {
    if (!data || !size) {
        QVLOG(QVLOG_ERROR, L"CPipeClient::Send: Failed du to null pointer");
        return false;
    }
    // Each write is one pipe message of at most a chunk, written straight
    // from the caller's bytes. Nothing is flushed: the bytes stay readable
    // after this end closes, and waiting for the reader after every chunk
    // would cost a round trip between the processes per chunk.
    DWORD sent = 0;
    while (sent < *size) {
        const DWORD length = std::min<DWORD>(IPC_PIPE_CHUNK, *size - sent);
        DWORD written = 0;
        if (!WriteChunk(data + sent, length, &written)) {
            DWORD error = ::GetLastError();
            if (error == ERROR_NO_SYSTEM_RESOURCES) continue;   // write the same chunk again
            QVLOG(QVLOG_ERROR, L"CPipeClient::Send: WriteFile() failed, error=%d", error);
            *size = sent;
            return false;
        }
        sent += written;
    }
    *size = sent;
    return true;
}

// A write that the pipe cannot take at once waits for the reader, at most
// the writer's time limit; the handle itself is signalled when its one
// outstanding write ends, so no event is made.
bool CPipeClient::WriteChunk(const BYTE* data, DWORD length, DWORD* written) {
    OVERLAPPED overlapped = {};
    if (::WriteFile(m_pipe.get(), data, length, written, &overlapped)) return true;
    if (::GetLastError() != ERROR_IO_PENDING) return false;
    if (::WaitForSingleObject(m_pipe.get(), m_writeTimeoutMs) != WAIT_OBJECT_0) {
        // The reader takes nothing: the write is given up, and must have
        // ended before its OVERLAPPED goes.
        ::CancelIo(m_pipe.get());
        ::GetOverlappedResult(m_pipe.get(), &overlapped, written, TRUE);
        ::SetLastError(ERROR_TIMEOUT);
        return false;
    }
    return ::GetOverlappedResult(m_pipe.get(), &overlapped, written, FALSE) != FALSE;
}
