#pragma once
// A listener procedure for the message broker and the IPC client that records
// every call: message id, body and thread. Release calls (message id 0) are
// counted apart. Optionally each call waits for a gate, and a
// ConcurrencyProbe sees how many calls overlap.
#include <windows.h>
#include <mutex>
#include <vector>
#include "ConcurrencyProbe.h"
#include "JsonBody.h"
#include "ProviderInterfaces.h"

namespace KelTest {

struct HeardCall {
    uint32_t messageId;
    JsonValue body;
    DWORD threadId;
};

class ListenerRecorder {
public:
    // What to give AddMessageListener.
    static void Listen(void* context, uint32_t messageId, JsonValue& body);
    ListenerProc Proc() const { return &Listen; }
    void* Context() { return this; }

    // Notifications (message id other than 0), in the order they came.
    std::vector<HeardCall> Calls() const;
    size_t Count(uint32_t messageId) const;
    int Releases() const;
    DWORD ReleaseThread() const;   // the thread of the last release call, 0 before one
    bool WaitForCalls(size_t count, DWORD timeoutMs = 10000) const;

    // Each notification first waits for this event (bounded).
    void HoldOn(HANDLE gate) { m_gate = gate; }
    // Shared by several recorders to see overlap between them.
    void CountOverlapIn(ConcurrencyProbe* probe) { m_probe = probe; }
    ConcurrencyProbe& Probe() { return m_ownProbe; }

private:
    void Record(uint32_t messageId, const JsonValue& body);

    mutable std::mutex m_lock;
    std::vector<HeardCall> m_calls;
    int m_releases = 0;
    DWORD m_releaseThread = 0;
    HANDLE m_gate = nullptr;
    ConcurrencyProbe m_ownProbe;
    ConcurrencyProbe* m_probe = &m_ownProbe;
};

} // namespace KelTest
