#include "ListenAgain.h"

#include "IpcDefs.h"
#include "IpcGuard.h"
#include "IpcPeer.h"
#include "QvLog.h"

void CListenAgain::Start(CIpcPeer* peer) {
    if (m_thread) return;
    if (!m_stop.IsValid() && !m_stop.Create()) {
        QVLOG(QVLOG_ERROR, L"%s::Start: Cannot create the watcher's stop event: 0x%08x", m_owner, ::GetLastError());
        return;
    }
    m_stop.Reset();
    m_peer = peer;
    m_thread.reset(::CreateThread(nullptr, 0, &CListenAgain::WatchProc, this, 0, nullptr));
    if (!m_thread) QVLOG(QVLOG_ERROR, L"%s::Start: Cannot watch the accept thread: 0x%08x", m_owner, ::GetLastError());
}

void CListenAgain::Stop() {
    if (!m_thread) return;
    m_stop.Set();
    // The watcher's longest step is a restart of the peer, whose own waits are bounded.
    while (::WaitForSingleObject(m_thread.get(), IPC_THREAD_STOP_WAIT_MS) == WAIT_TIMEOUT)
        QVLOG(QVLOG_INFO, L"%s::Stop: Waiting for the watcher to finish.", m_owner);
    m_thread.reset();
}

DWORD WINAPI CListenAgain::WatchProc(void* watcher) {
    return IpcGuard::Call(L"CListenAgain::WatchProc", [watcher] {
        static_cast<CListenAgain*>(watcher)->Watch();
        return 0u;
    });
}

// Waits without a time limit, but only on its own stop event and the accept thread.
void CListenAgain::Watch() {
    for (;;) {
        const HANDLE waits[] = {m_stop.Handle(), m_peer->GetAcceptThread()};
        if (::WaitForMultipleObjects(2, waits, FALSE, INFINITE) != WAIT_OBJECT_0 + 1) return;   // stopped
        QVLOG(QVLOG_ERROR, L"%s: The accept thread ended without a stop; listening on %s again.", m_owner,
              m_peer->GetPipeName().c_str());
        m_peer->ReceiveStop();
        const uint32_t started = m_peer->ReceiveStart();
        if (started != 0) {
            QVLOG(QVLOG_ERROR, L"%s: Cannot listen on %s again: 0x%08x", m_owner, m_peer->GetPipeName().c_str(), started);
            return;
        }
    }
}
