#include "IpcServer.h"
#include "IpcGuard.h"
#include "QvLog.h"

#include <cwchar>
#include <new>
#include <vector>

CIpcServer::~CIpcServer() {
    m_listenAgain.Stop();
    m_peer.reset();
    // Listeners still registered with the controller stay with it until it
    // releases them; they must no longer reach back into this server.
    std::map<std::wstring, RemoteListener*> listeners;
    {
        QvCommon::Synchronize::AutoLock lock(m_listenerLock);
        listeners.swap(m_listeners);
    }
    for (auto& entry : listeners) {
        entry.second->Detach();
        entry.second->Release();
    }
}

uint32_t CIpcServer::Initialize(IProviderController* controller, const std::wstring& pipeName) {
    if (!controller || pipeName.empty()) return PROVIDER_RESULT_INVALID_PARAMETER;
    m_controller = controller;
    std::unique_ptr<CIpcPeer> peer(new (std::nothrow) CIpcPeer);
    if (!peer) return PROVIDER_RESULT_OUT_OF_MEMORY;
    peer->SetPipeName(pipeName);
    peer->SetCallback(&CIpcServer::RcvCallback, this);
    m_peer = std::move(peer);
    m_initialized = true;
    return 0;
}

uint32_t CIpcServer::Start() {
    if (!m_peer || !m_controller) return PROVIDER_RESULT_NOT_INITIALIZED;
    const uint32_t started = m_peer->ReceiveStart();
    if (started == 0) m_listenAgain.Start(m_peer.get());
    return started;
}

uint32_t CIpcServer::Stop() {
    if (!m_initialized || !m_peer) return PROVIDER_RESULT_NOT_INITIALIZED;
    m_listenAgain.Stop();
    return m_peer->ReceiveStop();
}

void CIpcServer::Uninitialize() {
    m_listenAgain.Stop();
    m_peer.reset();   // stops listening first
    m_initialized = false;
}

uint32_t CIpcServer::RcvCallback(CIpcCommand& command, void* server) {
    if (!server) {
        QVLOG(QVLOG_ERROR, L"CIpcServer::RcvCallback: Invalid parameter.");
        return PROVIDER_RESULT_INVALID_PARAMETER;
    }
    return static_cast<CIpcServer*>(server)->HandleRcvCallback(command);
}

uint32_t CIpcServer::HandleRcvCallback(CIpcCommand& command) {
    if (!m_controller) {
        QVLOG(QVLOG_ERROR, L"CIpcServer::HandleRcvCallback: Provider controller is null.");
        return PROVIDER_RESULT_NOT_INITIALIZED;
    }
    bool caught = false;
    const uint32_t result = IpcGuard::Call(L"CIpcServer::HandleRcvCallback", [&] { return Dispatch(command); },
                                           &caught);
    // A query whose handling threw is still answered, with the code, so that
    // the asker hears of the failure now rather than from its watchdog.
    if (caught && command.GetCommandType() == OIPC_QUERY) TurnIntoResult(command, result, L"null");
    return result;
}

uint32_t CIpcServer::Dispatch(CIpcCommand& command) {
    switch (command.GetCommandType()) {
    case OIPC_REQUEST: return HandleRequest(command);
    case OIPC_QUERY:   return HandleQuery(command);
    case OIPC_ADVISE:  return HandleAdvise(command);
    default:
        QVLOG(QVLOG_INFO, L"CIpcServer::HandleRcvCallback: Unknown command type: %d", command.GetCommandType());
        return IPC_SERVER_UNKNOWN_COMMAND;
    }
}

// The identity fields stay the asker's, so the peer finds its return pipe.
bool CIpcServer::TurnIntoResult(CIpcCommand& command, uint32_t result, const std::wstring& reply) {
    const IPCST_IPCINFO info = command.GetIpcInfo();
    command.Reset();
    command.SetIpcInfo(info);
    command.SetCommandType(OIPC_RESULT);
    command.SetReturnInfo(result);
    return command.PutPayloadData(reply);
}

// The body of a request or query, logged as it arrived.
KelJson::JsonRead CIpcServer::ReadBody(const CIpcCommand& command, JsonValue& body) {
    std::wstring text;
    if (!command.GetPayloadData(text)) return KelJson::JsonRead::NotJson;
    const KelJson::JsonRead read = KelJson::Read(text, body);
    if (read == KelJson::JsonRead::TooDeep)
        QVLOG(QVLOG_ERROR, L"CIpcServer::HandleRcvCallback: Refused a body nested deeper than %d levels: [0x%x, 0x%x]",
              KELJSON_MAX_DEPTH, command.GetClassId(), command.GetMessageId());
    if (read == KelJson::JsonRead::Ok)
        QVLOG(QVLOG_INFO, L"<---- Received IPC command: [0x%x, 0x%x, (%d chars body)]", command.GetClassId(),
              command.GetMessageId(), static_cast<int>(text.size()));
    return read;
}

uint32_t CIpcServer::HandleRequest(CIpcCommand& command) {
    QVLOG(QVLOG_TRACE, L"CIpcServer::HandleRcvCallback: Received OIPC_REQUEST");
    JsonValue body;
    if (ReadBody(command, body) != KelJson::JsonRead::Ok) return PROVIDER_RESULT_INVALID_PARAMETER;
    uint32_t result = m_controller->PostMessageToProvider(command.GetClassId(), command.GetMessageId(), body);
    if (IsProviderFailure(result))
        QVLOG(QVLOG_ERROR, L"+++++ Failed to post message to provider: 0x%08x", result);
    return result;
}

uint32_t CIpcServer::HandleQuery(CIpcCommand& command) {
    QVLOG(QVLOG_TRACE, L"CIpcServer::HandleRcvCallback: Received OIPC_QUERY");
    JsonValue body;
    const KelJson::JsonRead read = ReadBody(command, body);
    if (read != KelJson::JsonRead::Ok) {
        // A body nested too deep is answered with the code. One that is not
        // JSON goes back unchanged, still a query, and the asker is left to
        // its watchdog.
        if (read == KelJson::JsonRead::TooDeep) TurnIntoResult(command, PROVIDER_RESULT_INVALID_PARAMETER, L"null");
        return PROVIDER_RESULT_INVALID_PARAMETER;
    }
    uint32_t result = m_controller->SendMessageToProvider(command.GetClassId(), command.GetMessageId(), body);
    const std::wstring reply = KelJson::Write(body);
    QVLOG(QVLOG_INFO, L"+++++ Function provider returns: [0x%x, (%d chars body)]", result,
          static_cast<int>(reply.size()));
    if (!TurnIntoResult(command, result, reply)) return PROVIDER_RESULT_FAILED;
    QVLOG(QVLOG_INFO, L"----> Sending IPC response to client: [0x%x, (%d chars body)]", result,
          static_cast<int>(reply.size()));
    return result;
}

uint32_t CIpcServer::HandleAdvise(CIpcCommand& command) {
    QVLOG(QVLOG_TRACE, L"CIpcServer::HandleRcvCallback: Received OIPC_ADVISE");
    std::wstring pipeName;
    command.GetPayloadData(pipeName);
    // A listener without a pipe could never be reached: every relay to it
    // would be a send without a destination. Refuse it at the door.
    if (pipeName.empty()) {
        QVLOG(QVLOG_ERROR, L"CIpcServer::HandleRcvCallback: Refused remote listener without notify pipe name.");
        return PROVIDER_RESULT_INVALID_PARAMETER;
    }
    const uint32_t classId = command.GetMessageId() & IPC_ADVISE_CLASS_MASK;
    RemoteListener* listener = AddRemoteListener(classId, pipeName);
    if (!listener) return 0;   // known already, or no memory (logged)
    // The registry's reference is taken before the registration, so that a
    // relay that closes the listener at once cannot free it under us.
    listener->AddRef();
    const uint32_t added = IpcGuard::Call(L"CIpcServer::HandleRcvCallback", [&] {
        return m_controller->AddMessageListener(classId, &RemoteListener::RelayMessage, listener);
    });
    if (IsProviderFailure(added)) {
        QVLOG(QVLOG_ERROR, L"CIpcServer::HandleRcvCallback: Failed to add local relay for remote listener: 0x%08x",
              added);
        listener->Close();
        listener->Release();
        return added;
    }
    QVLOG(QVLOG_TRACE, L"CIpcServer::HandleRcvCallback: Added remote listener for class 0x%04x, client %s", classId,
          QvLogCallerText(pipeName).c_str());
    return 0;
}

std::wstring CIpcServer::ListenerKey(uint32_t classId, const std::wstring& pipeName) {
    // 9 characters before the name, and the terminator. The Microsoft
    // formatter reads "%s" as a wide string, as the format means.
    std::vector<wchar_t> key(pipeName.size() + 10, L'\0');
    _snwprintf_s(key.data(), key.size(), _TRUNCATE, IPC_LISTENER_KEY_FORMAT, classId, pipeName.c_str());
    return key.data();
}

CIpcServer::RemoteListener* CIpcServer::AddRemoteListener(uint32_t classId, const std::wstring& pipeName) {
    const std::wstring key = ListenerKey(classId, pipeName);
    QvCommon::Synchronize::AutoLock lock(m_listenerLock);
    if (m_listeners.count(key)) {
        QVLOG(QVLOG_TRACE, L"CIpcServer::AddRemoteListener: (%08x|%s) is already added.", classId,
              QvLogCallerText(pipeName).c_str());
        return nullptr;
    }
    auto* listener = new (std::nothrow) RemoteListener(this, classId, pipeName);
    if (!listener) {
        QVLOG(QVLOG_ERROR, L"CIpcServer::AddRemoteListener: Out of memory.");
        return nullptr;
    }
    try {
        m_listeners[key] = listener;
    } catch (const std::bad_alloc&) {
        QVLOG(QVLOG_ERROR, L"CIpcServer::AddRemoteListener: Out of memory.");
        listener->Release();
        return nullptr;
    }
    return listener;
}

void CIpcServer::RemoveRemoteListener(uint32_t classId, const std::wstring& pipeName) {
    QVLOG(QVLOG_TRACE, L"CIpcServer::RemoveRemoteListener: %s", QvLogCallerText(pipeName).c_str());
    const std::wstring key = ListenerKey(classId, pipeName);
    QvCommon::Synchronize::AutoLock lock(m_listenerLock);
    auto found = m_listeners.find(key);
    if (found == m_listeners.end()) return;
    RemoteListener* listener = found->second;
    m_listeners.erase(found);
    m_controller->RemoveMessageListener(classId, &RemoteListener::RelayMessage, listener);
    listener->Release();
}
