#include "IpcPeer.h"
#include "IpcGuard.h"
#include "Process.h"
#include "ProviderResult.h"
#include "QvLog.h"

#include <new>

namespace {

QvCommon::Synchronize::Event::Options StopEventOptions() {
    QvCommon::Synchronize::Event::Options options;
    options.global = true;
    options.manualReset = true;
    options.initialState = false;
    // One process at a time may listen on a pipe name.
    options.onlyIfNew = true;
    return options;
}

std::wstring MakePeerId() {
    GUID guid;
    std::wstring text;
    if (FAILED(::CoCreateGuid(&guid)) || FAILED(QvCommon::String::GuidToText(guid, text)))
        text.clear();
    return text;
}

} // namespace

CIpcPeer::CIpcPeer(DWORD queryTimeoutMs) : m_peerId(MakePeerId()), m_queryTimeoutMs(queryTimeoutMs) {}

CIpcPeer::~CIpcPeer() {
    if (m_acceptThread) {
        if (::WaitForSingleObject(m_acceptThread.get(), 0) == WAIT_TIMEOUT)
            QVLOG(QVLOG_ERROR, L"CIpcPeer::~CIpcPeer: Pipe server still running. Force stop it.");
        ReceiveStop();
    }
    if (m_queue) {
        while (m_queue->stop(IPC_QUEUE_STOP_MS) != 0)
            QVLOG(QVLOG_INFO, L"CIpcPeer::~CIpcPeer: Waiting one second for thread pool to finish.");
        m_queue.reset();
    }
}

void CIpcPeer::StorePeer(CIpcCommand& command, CIpcPeer* peer) {
    IPCST_RETINFO info;
    info.value = reinterpret_cast<uintptr_t>(peer);
    command.SetReturnInfo(info);
}

// The record's return value goes back to 0, so that this process's address
// never reaches the wire when the record is sent back as it came.
CIpcPeer* CIpcPeer::TakePeer(CIpcCommand& command) {
    CIpcPeer* peer = reinterpret_cast<CIpcPeer*>(static_cast<uintptr_t>(command.GetReturnInfo().value));
    command.SetReturnInfo(IPCST_RETINFO());
    return peer;
}

uint32_t CIpcPeer::ReceiveStart() {
    if (m_acceptThread) return IPC_RESULT_ALREADY_STARTED;
    if (m_pipeName.empty()) return IPC_RESULT_NO_PIPE_NAME;
    if (!m_stopEvent.Create(IPC_STOP_EVENT_PREFIX + m_pipeName, StopEventOptions())) {
        QVLOG(QVLOG_ERROR, L"CIpcPeer::ReceiveStart: Failed to create stop event object: 0x%08x",
              ::GetLastError());
        return IPC_RESULT_NOT_CREATED;
    }
    QVLOG(QVLOG_TRACE, L"CIpcPeer::ReceiveStart: Starting IPC server: %s", m_pipeName.c_str());
    m_listenFailed = false;
    if (!m_listening.Create()) {
        QVLOG(QVLOG_ERROR, L"CIpcPeer::ReceiveStart: CreateEvent() failed: 0x%08x", ::GetLastError());
        m_stopEvent.Close();
        return IPC_RESULT_NOT_CREATED;
    }
    m_acceptThread.reset(::CreateThread(nullptr, 0, &CIpcPeer::AcceptThreadProc, this, 0, nullptr));
    if (!m_acceptThread) {
        QVLOG(QVLOG_ERROR, L"CIpcPeer::ReceiveStart: CreateThread() failed: 0x%08x", ::GetLastError());
        m_stopEvent.Close();
        return IPC_RESULT_NOT_CREATED;
    }
    const HANDLE started[] = {m_listening.Handle(), m_acceptThread.get()};
    ::WaitForMultipleObjects(2, started, FALSE, IPC_THREAD_STOP_WAIT_MS);
    if (m_listenFailed) {
        ReceiveStop();
        return IPC_RESULT_NOT_CREATED;
    }
    return 0;
}

uint32_t CIpcPeer::ReceiveStop() {
    if (!m_acceptThread) return 0;
    m_stopEvent.Set();
    QVLOG(QVLOG_TRACE, L"CIpcPeer::ReceiveStop: Waiting for AcceptThreadProc() to finish.");
    if (::WaitForSingleObject(m_acceptThread.get(), IPC_THREAD_STOP_WAIT_MS) == WAIT_TIMEOUT) {
        QVLOG(QVLOG_ERROR, L"CIpcPeer::ReceiveStop: AcceptThreadProc() not responding, force terminate it.");
        ::TerminateThread(m_acceptThread.get(), 0);
    }
    m_acceptThread.reset();
    QVLOG(QVLOG_TRACE, L"CIpcPeer::ReceiveStop: AcceptThreadProc() finished successfully.");
    m_stopEvent.Close();
    return 0;
}

DWORD WINAPI CIpcPeer::AcceptThreadProc(void* parameter) {
    auto* peer = static_cast<CIpcPeer*>(parameter);
    if (!peer) {
        QVLOG(QVLOG_ERROR, L"CIpcPeer::AcceptThreadProc: Invalid thread parameter.");
        return PROVIDER_RESULT_INVALID_PARAMETER;
    }
    return IpcGuard::Call(L"CIpcPeer::AcceptThreadProc", [peer] { return peer->Accept(); });
}

uint32_t CIpcPeer::Accept() {
    CIpcPeer* peer = this;
    // The pipe server with its 512,000-byte buffer lives on the heap, not on
    // this thread's stack.
    std::unique_ptr<CPipeServer> server(new (std::nothrow) CPipeServer);
    DWORD exitCode = 0;
    if (!server || !server->Initial(peer->m_pipeName.c_str(), peer->m_stopEvent.Handle())) {
        QVLOG(QVLOG_ERROR, L"CIpcPeer::AcceptThreadProc: Failed to initialize pipe server: 0x%08x",
              ::GetLastError());
        exitCode = IPC_RESULT_NOT_CREATED;
        peer->m_listenFailed = true;
        peer->m_listening.Set();
    } else {
        QVLOG(QVLOG_TRACE, L"CIpcPeer::AcceptThreadProc: Started.");
        peer->m_listening.Set();
        CIpcBuffer buffer(0, peer->m_stopEvent.Handle(), peer, server.get());
        buffer.ReceiverProc();
    }
    QVLOG(QVLOG_TRACE, L"CIpcPeer::AcceptThreadProc: Finished.");
    return exitCode;
}

uint32_t CIpcPeer::InitCommandQueue() {
    QvCommon::Synchronize::AutoLock lock(m_queueLock);
    if (m_queue) return 0;
    m_queue.reset(new (std::nothrow) CmdQueue(IPC_PEER_WORKERS, m_peerId));
    if (!m_queue) {
        QVLOG(QVLOG_ERROR, L"CIpcPeer::InitCommandQueue: Out of memory.");
        return PROVIDER_RESULT_OUT_OF_MEMORY;
    }
    m_queue->start(&CIpcPeer::CommandQueueCallback, &CIpcPeer::DiscardQueueItem);
    return 0;
}

uint32_t CIpcPeer::AddToCommandQueue(uint32_t item, void* parameter) {
    uint32_t made = InitCommandQueue();
    if (made != 0) {
        QVLOG(QVLOG_ERROR, L"CIpcPeer::AddToCommandQueue: InitCommandQueue() failed: 0x%08x", made);
        return made;
    }
    // A refusal means the queue is stopping.
    return m_queue->add(item, parameter) == 0 ? 0 : PROVIDER_RESULT_FAILED;
}

uint32_t CIpcPeer::RunCallback(CIpcCommand& command) {
    if (!m_callback) {
        QVLOG(QVLOG_ERROR, L"CIpcPeer::RunCallback: No callback function assigned.");
        return 0;
    }
    return m_callback(command, m_context);
}

void CIpcPeer::DiscardQueueItem(CmdQueueItem& item) {
    if (item.commandId == CMDQ_SEND_REQUEST) delete static_cast<CIpcBuffer*>(item.parameter);
    else delete static_cast<CIpcCommand*>(item.parameter);
}

void CIpcPeer::CommandQueueCallback(CmdQueueItem& item) {
    switch (item.commandId) {
    case CMDQ_SEND_REQUEST: {
        std::unique_ptr<CIpcBuffer> buffer(static_cast<CIpcBuffer*>(item.parameter));
        if (!buffer) {
            QVLOG(QVLOG_ERROR, L"CIpcPeer::CommandQueueCallback: Null command queue parameter for CMDQ_SEND_REQUEST.");
            return;
        }
        DWORD error = buffer->SenderProc();
        if (error != 0)
            QVLOG(QVLOG_ERROR, L"CIpcPeer::CommandQueueCallback: Failed to send IPC request: 0x%08x", error);
        return;
    }
    case CMDQ_RECEIVE_REQUEST: {
        std::unique_ptr<CIpcCommand> command(static_cast<CIpcCommand*>(item.parameter));
        CIpcPeer* peer = command ? TakePeer(*command) : nullptr;
        if (!peer) {
            QVLOG(QVLOG_ERROR, L"CIpcPeer::CommandQueueCallback: Null command queue parameter for CMDQ_RECEIVE_REQUEST.");
            return;
        }
        uint32_t result = peer->RunCallback(*command);
        if (IsProviderFailure(result))
            QVLOG(QVLOG_INFO, L"CIpcPeer::CommandQueueCallback: CMDQ_RECEIVE_REQUEST Failed to RunCallback(): 0x%08x, ProviderType(%d), MessageType(0x%08x)",
                  result, command->GetClassId(), command->GetMessageId());
        return;
    }
    case CMDQ_RECEIVE_QUERY: {
        std::unique_ptr<CIpcCommand> command(static_cast<CIpcCommand*>(item.parameter));
        CIpcPeer* peer = command ? TakePeer(*command) : nullptr;
        if (!peer) {
            QVLOG(QVLOG_ERROR, L"CIpcPeer::CommandQueueCallback: Null command queue parameter for CMDQ_RECEIVE_QUERY.");
            return;
        }
        // A peer without a callback is only ever a querying peer that got a
        // query back on its return pipe; echoing it would bounce it between
        // the two ends until the asker's watchdog fires.
        if (!peer->m_callback) {
            peer->RunCallback(*command);
            return;
        }
        uint32_t result = peer->RunCallback(*command);
        if (IsProviderFailure(result))
            QVLOG(QVLOG_INFO, L"CIpcPeer::CommandQueueCallback: CMDQ_RECEIVE_QUERY Failed to RunCallback(): 0x%08x, ProviderType(%d), MessageType(0x%08x)",
                  result, command->GetClassId(), command->GetMessageId());
        // Whatever the callback left goes back to the asker.
        CIpcBuffer reply(command->GetCommandType(), nullptr, peer, nullptr);
        std::wstring returnPipe;
        if (!reply.StoreCommand(*command)) {
            QVLOG(QVLOG_ERROR, L"CIpcPeer::CommandQueueCallback: Out of memory.");
        } else if (!command->GetReturnPipeName(returnPipe)) {
            QVLOG(QVLOG_ERROR, L"CIpcPeer::CommandQueueCallback: GetReturnPipeName() failed");
        } else if (returnPipe.empty()) {
            QVLOG(QVLOG_ERROR, L"CIpcPeer::CommandQueueCallback: GetReturnPipeName() is failed, pipe name is empty");
        } else {
            reply.AddDestination(returnPipe);
            DWORD error = reply.SenderProc();
            if (error != 0)
                QVLOG(QVLOG_ERROR, L"CIpcPeer::CommandQueueCallback: Failed to send IPC request: 0x%08x", error);
        }
        return;
    }
    default:
        QVLOG(QVLOG_ERROR, L"CIpcPeer::CommandQueueCallback: Unknown command queue item : %d", item.commandId);
        return;
    }
}

void CIpcPeer::MakeFailedResult(CIpcCommand& command, uint32_t code) {
    IPCST_IPCINFO info = command.GetIpcInfo();
    command.Reset();
    command.SetIpcInfo(info);
    command.SetCommandType(OIPC_RESULT);
    command.SetStatus(code);
}

uint32_t CIpcPeer::Send(CIpcCommand& command) {
    if (m_pipeName.empty()) {
        QVLOG(QVLOG_ERROR, L"CIpcPeer::Send: No pipe name assigned.");
        return PROVIDER_RESULT_INVALID_PARAMETER;
    }
    const uint32_t type = command.GetCommandType();
    switch (type) {
    case OIPC_REQUEST:
    case OIPC_ADVISE: {
        std::unique_ptr<CIpcBuffer> buffer(new (std::nothrow) CIpcBuffer(type, nullptr, this, nullptr));
        if (!buffer || !buffer->StoreCommand(command)) return IPC_RESULT_OUT_OF_MEMORY;
        buffer->AddDestination(m_pipeName);
        uint32_t queued = AddToCommandQueue(CMDQ_SEND_REQUEST, buffer.get());
        if (queued == 0) buffer.release();   // the queue item owns it now
        return queued;
    }
    case OIPC_NOTIFY: {
        CIpcBuffer buffer(type, nullptr, this, nullptr);
        if (!buffer.StoreCommand(command)) return IPC_RESULT_OUT_OF_MEMORY;
        buffer.AddDestination(m_pipeName);
        DWORD error = buffer.SenderProc();
        if (error == 0) return 0;
        return error == ERROR_FILE_NOT_FOUND ? IPC_RESULT_NO_LISTENER : IPC_RESULT_NOT_CREATED;
    }
    case OIPC_QUERY:
        return SendQuery(command);
    default:
        if (type <= OIPC_NOTIFY)   // 0 and results are never sent on their own
            QVLOG(QVLOG_ERROR, L"CIpcPeer::Send: Unknown IPC command type: %d", type);
        return 0;
    }
}

uint32_t CIpcPeer::SendQuery(CIpcCommand& command) {
    std::wstring returnPipe;
    command.GetReturnPipeName(returnPipe);
    QVLOG(QVLOG_TRACE, L"CIpcPeer::Send: Waiting for reply on named pipe %s", returnPipe.c_str());

    // The return pipe exists before the query leaves, so the answer cannot
    // arrive first. Without it no answer could ever arrive: fail at once.
    std::unique_ptr<CPipeServer> server(new (std::nothrow) CPipeServer);
    if (!server) return IPC_RESULT_OUT_OF_MEMORY;
    // Nothing but its deadline ends the wait for the answer, so the return
    // pipe needs no stop object of its own (an event made and closed per query).
    if (!server->Initialize(returnPipe.c_str(), nullptr)) {
        MakeFailedResult(command, IPC_RESULT_NOT_CREATED);
        return IPC_RESULT_NOT_CREATED;
    }
    CIpcBuffer buffer(OIPC_QUERY, nullptr, this, server.get());
    if (!buffer.StoreCommand(command)) return IPC_RESULT_OUT_OF_MEMORY;
    buffer.AddDestination(m_pipeName);
    DWORD error = buffer.SenderProc();
    if (error != 0) {
        uint32_t code = error == ERROR_FILE_NOT_FOUND ? IPC_RESULT_NO_LISTENER : IPC_RESULT_QUERY_NOT_SENT;
        if (code == IPC_RESULT_QUERY_NOT_SENT)
            QVLOG(QVLOG_ERROR, L"CIpcPeer::Send: CIpcBuffer::SenderProc() failed: 0x%08x", error);
        MakeFailedResult(command, code);
        return code;
    }

    // The watchdog is the return pipe's deadline: once it passes, the pipe
    // server stops waiting. A thread or timer of its own per query would cost
    // more than the query. There is no event to name or set.
    server->SetDeadline(m_queryTimeoutMs);
    uint32_t received = buffer.ReceiverProc();
    if (server->Expired()) {
        QVLOG(QVLOG_ERROR, L"ReceiveEventMonitor: Event timed out [0x%08x], force set event.", 0u);
        MakeFailedResult(command, IPC_RESULT_QUERY_TIMED_OUT);
        QVLOG(QVLOG_ERROR, L"CIpcPeer::Send: OIPC_QUERY failed: 0x%08x [%s]", IPC_RESULT_QUERY_TIMED_OUT,
              m_pipeName.c_str());
        return IPC_RESULT_QUERY_TIMED_OUT;
    }

    if (IsProviderFailure(received)) {
        MakeFailedResult(command, IPC_RESULT_RESULT_NOT_RECEIVED);
        return IPC_RESULT_RESULT_NOT_RECEIVED;
    }
    command.Reset();
    if (!buffer.ReadCommand(command)) {
        MakeFailedResult(command, IPC_RESULT_RESULT_NOT_RECEIVED);
        return IPC_RESULT_RESULT_NOT_RECEIVED;
    }
    return 0;
}
