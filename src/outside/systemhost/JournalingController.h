#pragma once
// What the service's IPC server talks to: writes every send, post and new
// remote listener to the journal, then hands it to the providers' controller.
#include "Journal.h"
#include "ProviderInterfaces.h"

class CJournalingController : public IProviderController {
public:
    CJournalingController(IProviderController& inner, CJournal& journal) : m_inner(inner), m_journal(journal) {}

    uint32_t SendMessageToProvider(uint32_t classId, uint32_t messageId, JsonValue& body) override {
        m_journal.Record("send", classId, messageId, body);
        return m_inner.SendMessageToProvider(classId, messageId, body);
    }
    uint32_t PostMessageToProvider(uint32_t classId, uint32_t messageId, const JsonValue& body) override {
        m_journal.Record("post", classId, messageId, body);
        return m_inner.PostMessageToProvider(classId, messageId, body);
    }
    uint32_t AddMessageListener(uint32_t listenerClass, ListenerProc proc, void* context) override {
        m_journal.Record("listen", listenerClass, 0, JsonValue());
        return m_inner.AddMessageListener(listenerClass, proc, context);
    }
    uint32_t RemoveMessageListener(uint32_t listenerClass, ListenerProc proc, void* context) override {
        return m_inner.RemoveMessageListener(listenerClass, proc, context);
    }
    uint32_t BroadcastMessageToListeners(uint32_t messageId, const JsonValue& body) override {
        return m_inner.BroadcastMessageToListeners(messageId, body);
    }

private:
    IProviderController& m_inner;
    CJournal& m_journal;
};
