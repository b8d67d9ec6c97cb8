#pragma once
// A registry of listeners by provider class, and a broadcaster: each call of
// a listener runs on one of the broker's speaker threads, so a broadcaster
// never waits for a listener. Every registered listener receives exactly one
// release call (message id 0, null body): from RemoveMessageListener on a
// speaker thread, or from Stop on the stopping thread.
#include <windows.h>
#include <cstdint>
#include <map>
#include <memory>
#include <vector>
#include "CmdQueue.h"
#include "IpcDefs.h"
#include "ProviderInterfaces.h"
#include "Synchronize.h"

class MessageBroker {
public:
    // stopTimeoutMs bounds the wait for the speakers in Stop.
    explicit MessageBroker(DWORD stopTimeoutMs = BROKER_STOP_TIMEOUT_MS);
    ~MessageBroker();
    MessageBroker(const MessageBroker&) = delete;
    MessageBroker& operator=(const MessageBroker&) = delete;

    bool Start();
    void Stop();
    uint32_t AddMessageListener(uint32_t classId, ListenerProc proc, void* context);
    uint32_t RemoveMessageListener(uint32_t classId, ListenerProc proc, void* context);
    // The body is copied for each listener; the caller may change it at once.
    uint32_t BroadcastMessageToListeners(uint32_t messageId, const JsonValue& body);

    static void MessageSpeakerThreadProc(CmdQueueItem& item);

private:
    struct Listener {
        ListenerProc proc;
        void* context;
        bool operator==(const Listener& other) const {
            return proc == other.proc && context == other.context;
        }
    };
    struct SpeakerItem {
        uint32_t messageId;
        JsonValue body;
        Listener listener;
    };

    // Queues one call; false (item freed) when the queue refused it.
    bool Speak(SpeakerItem* item);
    static void DiscardItem(CmdQueueItem& item);

    bool m_started = false;
    QvCommon::Synchronize::CriticalSection m_lock;
    std::map<uint32_t, std::vector<Listener>> m_listeners;
    std::unique_ptr<CmdQueue> m_speakers;
    // Queues whose speakers did not end within the limit, because a listener
    // still runs: their workers use them until then, so they are kept.
    std::vector<std::unique_ptr<CmdQueue>> m_stalledSpeakers;
    DWORD m_stopTimeoutMs;
};
