#pragma once
// A first-in, first-out queue of two-word items served by a fixed pool of
// worker threads that call one callback per item.
#include <windows.h>
#include <atomic>
#include <cstdint>
#include <deque>
#include <string>
#include <vector>
#include "QvHandle.h"
#include "Synchronize.h"

struct CmdQueueItem {
    uint32_t commandId;
    void* parameter;     // meaning and ownership belong to the queue's user
};

class CmdQueue {
public:
    typedef void (*Callback)(CmdQueueItem& item);

    static constexpr int ADD_REFUSED = -2;
    static constexpr int STOP_TIMED_OUT = -1;

    // Makes the lock and the two named events; starts no thread. The events
    // are unique in the system, so a second queue of the same name in the
    // same process has none and refuses every item.
    CmdQueue(uint32_t workerCount, const std::wstring& name);
    // Closes the events; users stop the queue first. Items that were never
    // handed to the callback go to the discard procedure given to start.
    ~CmdQueue();
    CmdQueue(const CmdQueue&) = delete;
    CmdQueue& operator=(const CmdQueue&) = delete;

    // discard (optional) receives the items still queued when the queue is
    // destroyed, so that their parameters are not lost.
    void start(Callback callback, Callback discard = nullptr);
    int add(uint32_t commandId, void* parameter);
    // 0 when every worker ended within the time-out, else -1 (the workers go
    // on; a later stop waits again).
    int stop(DWORD timeoutMs);

    bool IsReady() const { return m_stopEvent.IsValid() && m_dataArriveEvent.IsValid(); }
    size_t GetWorkerCount() const { return m_workerCount; }

private:
    struct WorkerBlock {
        CmdQueue* queue;
        Callback callback;
    };
    static DWORD WINAPI WorkerProc(void* parameter);
    // woke: the caller's wait has just ended on the data event.
    bool TakeFront(CmdQueueItem& item, bool woke);
    void SignalIfNeeded();   // under m_lock
    bool IsEmpty();

    QvCommon::Synchronize::CriticalSection m_lock;
    std::deque<CmdQueueItem> m_items;
    uint32_t m_idle = 0;        // workers waiting, or woken and not yet at the list
    bool m_signalled = false;   // a signal that no worker has taken yet
    QvCommon::Synchronize::Event m_stopEvent;
    std::atomic<bool> m_stopping{false};   // set just before the stop event
    QvCommon::Synchronize::Event m_dataArriveEvent;
    std::vector<QvCommon::UniqueHandle> m_workers;
    uint32_t m_workerCount;
    Callback m_discard = nullptr;
};
