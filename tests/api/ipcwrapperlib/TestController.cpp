#include "TestController.h"

#include <new>
#include <string>
#include "QvException.h"
#include "TestWait.h"

namespace {
void DoAsAsked(const JsonValue& body) {
    const std::wstring hold = KelJson::GetString(body, "hold");
    if (!hold.empty()) KelTest::NamedEvent(hold).Wait(30000);
    const std::wstring kind = KelJson::GetString(body, "throw");
    if (kind == L"bad_alloc") throw std::bad_alloc();
    if (kind == L"type_error") (void)body["throw"].get<int>();
    if (kind == L"result") throw QvCommon::Exception::Result(E_FAIL);
}
} // namespace

void TestController::Record(JsonValue& list, uint32_t classId, uint32_t messageId, const JsonValue& body) {
    QvCommon::Synchronize::AutoLock lock(m_lock);
    list.push_back(JsonValue{{"classId", classId}, {"messageId", messageId}, {"body", body}});
}

uint32_t TestController::SendMessageToProvider(uint32_t classId, uint32_t messageId, JsonValue& body) {
    if (classId == TEST_CONTROL_CLASS) {
        if (messageId == TEST_CONTROL_BROADCAST) {
            uint32_t broadcast = static_cast<uint32_t>(KelJson::GetInt(body, "messageId"));
            JsonValue message = body.is_object() && body.contains("body") ? body["body"] : JsonValue();
            body = JsonValue{{"ok", 1}};
            return BroadcastMessageToListeners(broadcast, message);
        }
        if (messageId != TEST_CONTROL_STATE) return PROVIDER_RESULT_NOT_SUPPORTED;
        body = State();
        return 0;
    }
    DoAsAsked(body);
    const uint32_t code = static_cast<uint32_t>(KelJson::GetInt(body, "code"));
    Record(m_sends, classId, messageId, body);
    body = JsonValue{{"ok", 1}};
    return code;
}

uint32_t TestController::PostMessageToProvider(uint32_t classId, uint32_t messageId, const JsonValue& body) {
    {
        KelTest::ConcurrencyProbe::Scope inside(m_posting);
        DoAsAsked(body);
    }
    Record(m_posts, classId, messageId, body);
    return 0;
}

JsonValue TestController::State() {
    QvCommon::Synchronize::AutoLock lock(m_lock);
    return JsonValue{{"sends", m_sends}, {"posts", m_posts}, {"postsAtOnce", m_posting.MaxRunning()}};
}
