#include "IpcServer.h"
#include "IpcGuard.h"
#include "QvLog.h"

#include <new>

CIpcServer::RemoteListener::RemoteListener(CIpcServer* server, uint32_t classId, const std::wstring& pipeName)
    : m_server(server), m_classId(classId), m_pipeName(pipeName) {}

CIpcServer::RemoteListener::~RemoteListener() {
    QVLOG(QVLOG_TRACE, L"CIpcServer::RemoteListener::~RemoteListener: %s", m_pipeName.c_str());
}

LONG CIpcServer::RemoteListener::AddRef() { return ::InterlockedIncrement(&m_refCount); }

LONG CIpcServer::RemoteListener::Release() {
    LONG count = ::InterlockedDecrement(&m_refCount);
    if (count == 0) delete this;
    return count;
}

bool CIpcServer::RemoteListener::Close() {
    QvCommon::Synchronize::AutoLock lock(m_lock);
    if (!m_server) return false;
    // Our lock, then the server's listener lock inside: always this order.
    m_server->RemoveRemoteListener(m_classId, m_pipeName);
    m_server = nullptr;
    return true;
}

void CIpcServer::RemoteListener::Detach() {
    QvCommon::Synchronize::AutoLock lock(m_lock);
    m_server = nullptr;
}

void CIpcServer::RemoteListener::RelayMessage(void* context, uint32_t messageId, JsonValue& body) {
    auto* listener = static_cast<RemoteListener*>(context);
    if (messageId == 0) {   // the controller's registry lets the listener go
        listener->Release();
        return;
    }
    // Only the registry's reference left: the listener is being removed.
    if (listener->AddRef() <= 1) {
        listener->Release();
        return;
    }
    // The relay runs on the controller's threads: nothing it meets may leave it.
    IpcGuard::Call(L"CIpcServer::RemoteListener::RelayMessage", [&] {
        try {
            CIpcCommand notify;
            notify.SetCommandType(OIPC_NOTIFY);
            notify.SetIpcInfo({0, messageId});
            if (!notify.PutPayloadData(KelJson::Write(body))) throw std::bad_alloc();
            QVLOG(QVLOG_TRACE, L"----> Sending IPC notify to client %s", listener->m_pipeName.c_str());
            CIpcPeer peer;
            peer.SetPipeName(listener->m_pipeName);
            uint32_t sent = peer.Send(notify);
            if (sent == IPC_RESULT_NO_LISTENER) {
                QVLOG(QVLOG_INFO, L"CIpcServer::RemoteListener::RelayMessage: Remote listener %s was closed.",
                      listener->m_pipeName.c_str());
                listener->Close();
            } else if (IsProviderFailure(sent)) {
                QVLOG(QVLOG_ERROR, L"CIpcServer::RemoteListener::RelayMessage: Failed to send IPC notify: 0x%08x", sent);
            }
        } catch (const std::bad_alloc&) {
            QVLOG(QVLOG_ERROR, L"CIpcServer::RemoteListener::RelayMessage: Out of memory.");
        }
        return 0u;
    });
    listener->Release();
}
