#pragma once
// The provider controller behind the benchmark's IPC server: a send is
// answered with its own body (as the raw baseline echoes), and listeners are
// kept in a MessageBroker, as a real controller keeps them.
#include <atomic>
#include "MessageBroker.h"
#include "ProviderInterfaces.h"

class BenchController : public IProviderController {
public:
    BenchController() { m_broker.Start(); }
    uint32_t SendMessageToProvider(uint32_t, uint32_t, JsonValue&) override { return 0; }
    uint32_t AddMessageListener(uint32_t listenerClass, ListenerProc proc, void* context) override {
        uint32_t added = m_broker.AddMessageListener(listenerClass, proc, context);
        if (added == 0) ++m_listeners;
        return added;
    }
    uint32_t RemoveMessageListener(uint32_t listenerClass, ListenerProc proc, void* context) override {
        --m_listeners;
        return m_broker.RemoveMessageListener(listenerClass, proc, context);
    }
    uint32_t BroadcastMessageToListeners(uint32_t messageId, const JsonValue& body) override {
        return m_broker.BroadcastMessageToListeners(messageId, body);
    }
    int Listeners() const { return m_listeners; }

private:
    MessageBroker m_broker;
    std::atomic<int> m_listeners{0};
};
