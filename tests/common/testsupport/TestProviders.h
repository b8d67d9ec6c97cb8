#pragma once
// Both sides of the provider interfaces, played by a test: a function
// provider whose life-cycle does nothing, and a controller that answers with
// a fixed code and reply and keeps every send and post it was given.
#include <cstdint>
#include <mutex>
#include <vector>
#include "JsonBody.h"
#include "ProviderInterfaces.h"

namespace KelTest {

// The life-cycle operations succeed, QueryState answers true; the test
// writes MessageProc.
class ProviderStub : public IFunctionProvider {
public:
    explicit ProviderStub(uint32_t classId, IProviderController* controller = nullptr)
        : IFunctionProvider(controller) {
        m_classId = classId;
    }
    uint32_t Initialize() override { return 0; }
    uint32_t PostInitialize() override { return 0; }
    uint32_t Uninitialize() override { return 0; }
    bool QueryState(uint32_t, uint32_t) override { return true; }
};

// Every send answers result, with reply in place of the body; every post and
// broadcast answers 0; the rest answers as the base does. Each send, post and
// broadcast is kept as {"mode": "send", "post" or "broadcast", "class" (0 for
// a broadcast), "message", "body": as given}.
class CannedController : public IProviderController {
public:
    CannedController(uint32_t result, const JsonValue& reply) : m_result(result), m_reply(reply) {}
    uint32_t SendMessageToProvider(uint32_t classId, uint32_t messageId, JsonValue& body) override {
        Record("send", classId, messageId, body);
        body = m_reply;
        return m_result;
    }
    uint32_t PostMessageToProvider(uint32_t classId, uint32_t messageId, const JsonValue& body) override {
        Record("post", classId, messageId, body);
        return 0;
    }
    uint32_t BroadcastMessageToListeners(uint32_t messageId, const JsonValue& body) override {
        Record("broadcast", 0, messageId, body);
        return 0;
    }
    std::vector<JsonValue> Calls() const {
        std::lock_guard<std::mutex> guard(m_lock);
        return m_calls;
    }

private:
    void Record(const char* mode, uint32_t classId, uint32_t messageId, const JsonValue& body) {
        std::lock_guard<std::mutex> guard(m_lock);
        m_calls.push_back({{"mode", mode}, {"class", classId}, {"message", messageId}, {"body", body}});
    }
    const uint32_t m_result;
    const JsonValue m_reply;
    mutable std::mutex m_lock;
    std::vector<JsonValue> m_calls;
};

} // namespace KelTest
