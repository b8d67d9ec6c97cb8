#include "CmdQueue.h"
#include "IpcGuard.h"
#include "QvLog.h"

namespace {
constexpr DWORD DRAIN_STEP_MS = 1000;

QvCommon::Synchronize::Event::Options QueueEventOptions(bool manualReset) {
    QvCommon::Synchronize::Event::Options options;
    options.global = true;
    options.manualReset = manualReset;
    options.initialState = false;
    options.onlyIfNew = true;
    return options;
}
} // namespace

CmdQueue::CmdQueue(uint32_t workerCount, const std::wstring& name) : m_workerCount(workerCount) {
    const std::wstring pid = std::to_wstring(::GetCurrentProcessId());
    if (!m_stopEvent.Create(name + L"Stop" + pid, QueueEventOptions(true)))
        QVLOG(QVLOG_ERROR, L"CmdQueue::CmdQueue: Failed to create stop event: 0x%08x", ::GetLastError());
    // The data event wakes one worker per signal: with a manual-reset event
    // every idle worker would wake for each item and all but one would go
    // back to sleep, which costs a query a fifth of its time. It is signalled
    // only when an idle worker is needed (see TakeFront).
    if (!m_dataArriveEvent.Create(name + L"DataArrive" + pid, QueueEventOptions(false)))
        QVLOG(QVLOG_ERROR, L"CmdQueue::CmdQueue: Failed to create data event: 0x%08x", ::GetLastError());
    m_stopEvent.Reset();
    m_dataArriveEvent.Reset();
}

CmdQueue::~CmdQueue() {
    if (!m_discard) return;
    for (CmdQueueItem& item : m_items) m_discard(item);
    m_items.clear();
}

void CmdQueue::start(Callback callback, Callback discard) {
    m_discard = discard;
    m_workers.clear();
    for (uint32_t i = 0; i < m_workerCount; ++i) {
        auto* block = new WorkerBlock{this, callback};
        {
            // A new worker counts as waiting before it can be woken.
            QvCommon::Synchronize::AutoLock lock(m_lock);
            ++m_idle;
        }
        HANDLE thread = ::CreateThread(nullptr, 0, &CmdQueue::WorkerProc, block, 0, nullptr);
        if (!thread) {
            delete block;
            QvCommon::Synchronize::AutoLock lock(m_lock);
            --m_idle;
        }
        m_workers.emplace_back(thread);
    }
    QvCommon::Synchronize::AutoLock lock(m_lock);
    SignalIfNeeded();   // for items added before the workers were there
}

DWORD WINAPI CmdQueue::WorkerProc(void* parameter) {
    auto* block = static_cast<WorkerBlock*>(parameter);
    CmdQueue* queue = block->queue;
    // The stop event comes first so that a signalled stop wins over waiting data.
    const HANDLE events[] = {queue->m_stopEvent.Handle(), queue->m_dataArriveEvent.Handle()};
    for (;;) {
        if (::WaitForMultipleObjects(2, events, FALSE, INFINITE) != WAIT_OBJECT_0 + 1) break;
        // A woken worker takes items until the list is empty and only then
        // waits again: items that come while it is busy need no signal.
        CmdQueueItem item;
        for (bool woke = true; !queue->m_stopping.load() && queue->TakeFront(item, woke); woke = false)
            IpcGuard::Call(L"CmdQueue::WorkerProc", [&] { block->callback(item); return 0u; });
    }
    delete block;
    return 0;
}

// Every signal is a kernel call and every wake a thread switch, so the data
// event is signalled only when an item waits, a worker is idle and no signal
// is outstanding: a burst of items (a broadcast to many listeners) wakes each
// idle worker once, one after the other, instead of signalling twice per item.
// A busy worker needs no signal, as it looks at the list before it waits.
bool CmdQueue::TakeFront(CmdQueueItem& item, bool woke) {
    QvCommon::Synchronize::AutoLock lock(m_lock);
    if (woke) {   // this worker took the outstanding signal
        --m_idle;
        m_signalled = false;
    }
    if (m_items.empty()) {
        ++m_idle;   // it goes back to its wait
        return false;
    }
    item = m_items.front();
    m_items.pop_front();
    SignalIfNeeded();
    return true;
}

void CmdQueue::SignalIfNeeded() {
    if (m_items.empty() || m_idle == 0 || m_signalled) return;
    m_signalled = true;
    m_dataArriveEvent.Set();
}

bool CmdQueue::IsEmpty() {
    QvCommon::Synchronize::AutoLock lock(m_lock);
    return m_items.empty();
}

int CmdQueue::add(uint32_t commandId, void* parameter) {
    // The flag says what the stop event says, without asking the kernel.
    if (!IsReady() || m_stopping.load()) return ADD_REFUSED;
    QvCommon::Synchronize::AutoLock lock(m_lock);
    m_items.push_back(CmdQueueItem{commandId, parameter});
    SignalIfNeeded();
    return 0;
}

int CmdQueue::stop(DWORD timeoutMs) {
    // Give the workers up to the time-out, in whole seconds, to drain the queue.
    for (DWORD n = timeoutMs / DRAIN_STEP_MS; n >= 1 && !IsEmpty(); --n)
        m_stopEvent.Wait(DRAIN_STEP_MS);
    m_stopping = true;
    m_stopEvent.Set();

    std::vector<HANDLE> running;
    for (const QvCommon::UniqueHandle& worker : m_workers)
        if (worker) running.push_back(worker.get());
    if (!running.empty()) {
        DWORD waited = ::WaitForMultipleObjects(static_cast<DWORD>(running.size()), running.data(),
                                                TRUE, timeoutMs);
        if (waited == WAIT_TIMEOUT) return STOP_TIMED_OUT;
    }
    m_workers.clear();   // each handle closed once, when its thread has ended
    return 0;
}
