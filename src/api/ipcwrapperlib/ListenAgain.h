#pragma once
// A result record sent to a listening peer ends its receive loop by design,
// and any process may send one. The owner of a listening peer keeps one of
// these: it watches the peer's accept thread and, when the thread ended
// without a stop, logs it and has the peer listen on the same name again.
#include <windows.h>
#include <string>

#include "QvHandle.h"
#include "Synchronize.h"

class CIpcPeer;

class CListenAgain {
public:
    explicit CListenAgain(const wchar_t* owner) : m_owner(owner) {}
    ~CListenAgain() { Stop(); }
    CListenAgain(const CListenAgain&) = delete;
    CListenAgain& operator=(const CListenAgain&) = delete;

    // For a peer that listens; Stop before the peer stops or goes.
    void Start(CIpcPeer* peer);
    void Stop();

private:
    static DWORD WINAPI WatchProc(void* watcher);
    void Watch();

    const wchar_t* m_owner;   // names the owner in the log lines
    CIpcPeer* m_peer = nullptr;
    QvCommon::UniqueHandle m_thread;
    QvCommon::Synchronize::Event m_stop;
};
