#include "MessageBroker.h"
#include "Process.h"
#include "QvLog.h"

#include <algorithm>
#include <new>

MessageBroker::MessageBroker(DWORD stopTimeoutMs) : m_stopTimeoutMs(stopTimeoutMs) {}

MessageBroker::~MessageBroker() {
    Stop();
    for (std::unique_ptr<CmdQueue>& stalled : m_stalledSpeakers) {
        // A listener that still has not returned keeps its queue in use;
        // freeing it would pull the queue from under that worker.
        if (stalled->stop(m_stopTimeoutMs) != 0) stalled.release();
    }
}

bool MessageBroker::Start() {
    QvCommon::Synchronize::AutoLock lock(m_lock);
    if (m_started) return true;
    GUID guid;
    std::wstring name;
    if (FAILED(::CoCreateGuid(&guid)) || FAILED(QvCommon::String::GuidToText(guid, name))) return false;
    try {
        std::unique_ptr<CmdQueue> speakers(new CmdQueue(BROKER_SPEAKER_THREADS, name));
        // A queue without its events would refuse every call.
        if (!speakers->IsReady()) return false;
        speakers->start(&MessageBroker::MessageSpeakerThreadProc, &MessageBroker::DiscardItem);
        m_speakers = std::move(speakers);
    } catch (const std::bad_alloc&) {
        QVLOG(QVLOG_ERROR, L"MessageBroker::Start: Out of memory.");
        return false;
    }
    m_started = true;
    return true;
}

void MessageBroker::Stop() {
    QvCommon::Synchronize::AutoLock lock(m_lock);
    if (!m_started) return;
    if (m_speakers->stop(m_stopTimeoutMs) != 0) {
        QVLOG(QVLOG_ERROR, L"MessageBroker::Stop: CmdQueue::stop() timed out.");
        m_stalledSpeakers.push_back(std::move(m_speakers));
    }
    m_speakers.reset();
    QVLOG(QVLOG_INFO, L"MessageBroker::Stop: About to release all listeners (%p).", this);
    JsonValue released;
    for (auto& entry : m_listeners) {
        for (const Listener& listener : entry.second) {
            released = JsonValue();   // a listener may have written into it
            listener.proc(listener.context, 0, released);
        }
    }
    m_listeners.clear();
    QVLOG(QVLOG_INFO, L"MessageBroker::Stop: Finished.");
    m_started = false;
}

uint32_t MessageBroker::AddMessageListener(uint32_t classId, ListenerProc proc, void* context) {
    QvCommon::Synchronize::AutoLock lock(m_lock);
    if (!m_started) return PROVIDER_RESULT_NOT_INITIALIZED;
    try {
        std::vector<Listener>& listeners = m_listeners[classId];
        const Listener listener{proc, context};
        if (std::find(listeners.begin(), listeners.end(), listener) != listeners.end()) return 0;
        QVLOG(QVLOG_TRACE, L"MessageBroker::AddMessageListener: Added listener (%p, %p)",
              reinterpret_cast<void*>(proc), context);
        listeners.push_back(listener);
    } catch (const std::bad_alloc&) {
        QVLOG(QVLOG_ERROR, L"MessageBroker::AddMessageListener: Out of memory.");
        return PROVIDER_RESULT_OUT_OF_MEMORY;
    }
    return 0;
}

uint32_t MessageBroker::RemoveMessageListener(uint32_t classId, ListenerProc proc, void* context) {
    QvCommon::Synchronize::AutoLock lock(m_lock);
    if (!m_started) return PROVIDER_RESULT_NOT_INITIALIZED;
    auto found = m_listeners.find(classId);
    if (found == m_listeners.end()) return 0;
    std::vector<Listener>& listeners = found->second;
    const Listener listener{proc, context};
    auto registered = std::find(listeners.begin(), listeners.end(), listener);
    if (registered == listeners.end()) return 0;
    listeners.erase(registered);
    // The release call goes out on a speaker thread like any other call.
    auto* item = new (std::nothrow) SpeakerItem{0, JsonValue(), listener};
    if (!item) {
        QVLOG(QVLOG_ERROR, L"MessageBroker::RemoveMessageListener: Out of memory.");
        return PROVIDER_RESULT_OUT_OF_MEMORY;
    }
    Speak(item);
    return 0;
}

uint32_t MessageBroker::BroadcastMessageToListeners(uint32_t messageId, const JsonValue& body) {
    QvCommon::Synchronize::AutoLock lock(m_lock);
    if (!m_started) return PROVIDER_RESULT_NOT_INITIALIZED;
    QVLOG(QVLOG_TRACE, L"MessageBroker::BroadcastMessageToListeners: MessageId = 0x%08x", messageId);
    auto found = m_listeners.find(ListenerClassOf(messageId));
    if (found == m_listeners.end() || found->second.empty()) {
        QVLOG(QVLOG_TRACE, L"MessageBroker::BroadcastMessageToListeners: No listeners.");
        return 0;
    }
    for (const Listener& listener : found->second) {
        SpeakerItem* item = nullptr;
        try {
            item = new SpeakerItem{messageId, body, listener};
        } catch (const std::bad_alloc&) {
            QVLOG(QVLOG_ERROR, L"MessageBroker::BroadcastMessageToListeners: Out of memory.");
            return PROVIDER_RESULT_OUT_OF_MEMORY;
        }
        QVLOG(QVLOG_TRACE, L"MessageBroker::BroadcastMessageToListeners: Added to command queue.");
        Speak(item);
    }
    return 0;
}

bool MessageBroker::Speak(SpeakerItem* item) {
    if (m_speakers->add(BROKER_SPEAK, item) == 0) return true;
    delete item;   // the queue is stopping: the call is not delivered
    return false;
}

void MessageBroker::MessageSpeakerThreadProc(CmdQueueItem& item) {
    if (item.commandId != BROKER_SPEAK) {
        QVLOG(QVLOG_ERROR, L"MessageBroker::MessageSpeakerThreadProc: Unknown command id: %d", item.commandId);
        return;
    }
    std::unique_ptr<SpeakerItem> speaker(static_cast<SpeakerItem*>(item.parameter));
    QVLOG(QVLOG_TRACE, L"MessageBroker::MessageSpeakerThreadProc: Calling listener procedure.");
    speaker->listener.proc(speaker->listener.context, speaker->messageId, speaker->body);
}

void MessageBroker::DiscardItem(CmdQueueItem& item) {
    if (item.commandId == BROKER_SPEAK) delete static_cast<SpeakerItem*>(item.parameter);
}
