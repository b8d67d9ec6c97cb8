#pragma once
// The provider controller behind the test servers. It answers every send
// with {"ok":1} and the result code the body asks for ("code", 0 without),
// first waits (30 s at most) for the named event "hold" if the body names one,
// throws what a send or post asks for ("throw": "bad_alloc", "type_error" (a
// mistyped key read through the JSON library) or "result" (a result
// exception)), records every send and post, keeps its listeners in a
// MessageBroker, and takes two control messages that let a test in another
// process drive it: broadcast a message, and report what it got.
#include <cstdint>
#include "ConcurrencyProbe.h"
#include "MessageBroker.h"
#include "ProviderInterfaces.h"
#include "Synchronize.h"

// The control messages, on a class no product provider uses.
constexpr uint32_t TEST_CONTROL_CLASS = 0x7E7E;
// {"messageId": n, "body": b}: broadcasts b as message n; answers the broker's code.
constexpr uint32_t TEST_CONTROL_BROADCAST = 0x7E7E0001;
// Answers {"sends": [...], "posts": [...], "postsAtOnce": n}, each message as
// {"classId", "messageId", "body"}, n the most posts that ran at once;
// control messages are not recorded.
constexpr uint32_t TEST_CONTROL_STATE = 0x7E7E0002;

class TestController : public IProviderController {
public:
    TestController() { m_broker.Start(); }
    ~TestController() override { m_broker.Stop(); }

    uint32_t SendMessageToProvider(uint32_t classId, uint32_t messageId, JsonValue& body) override;
    uint32_t PostMessageToProvider(uint32_t classId, uint32_t messageId, const JsonValue& body) override;
    uint32_t AddMessageListener(uint32_t listenerClass, ListenerProc proc, void* context) override {
        return m_broker.AddMessageListener(listenerClass, proc, context);
    }
    uint32_t RemoveMessageListener(uint32_t listenerClass, ListenerProc proc, void* context) override {
        return m_broker.RemoveMessageListener(listenerClass, proc, context);
    }
    uint32_t BroadcastMessageToListeners(uint32_t messageId, const JsonValue& body) override {
        return m_broker.BroadcastMessageToListeners(messageId, body);
    }

    JsonValue State();

private:
    void Record(JsonValue& list, uint32_t classId, uint32_t messageId, const JsonValue& body);

    KelTest::ConcurrencyProbe m_posting;
    MessageBroker m_broker;
    QvCommon::Synchronize::CriticalSection m_lock;
    JsonValue m_sends = JsonValue::array();
    JsonValue m_posts = JsonValue::array();
};
