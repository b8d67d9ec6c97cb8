#include "TestController.h"

#include <string>

TestController::TestController() { m_broker.Start(); }

TestController::~TestController() { m_broker.Stop(); }

JsonValue TestController::Message(uint32_t classId, uint32_t messageId, const JsonValue& body) {
    return JsonValue{{"classId", classId}, {"messageId", messageId}, {"body", body}};
}

uint32_t TestController::SendMessageToProvider(uint32_t classId, uint32_t messageId, JsonValue& body) {
    if (classId == TEST_CONTROL_CLASS) {
        if (messageId == TEST_CONTROL_BROADCAST) {
            uint32_t broadcast = static_cast<uint32_t>(KelJson::GetInt(body, "messageId"));
            JsonValue message = body.is_object() && body.contains("body") ? body["body"] : JsonValue();
            body = JsonValue{{"ok", 1}};
            return BroadcastMessageToListeners(broadcast, message);
        }
        if (messageId == TEST_CONTROL_STATE) {
            body = State();
            return 0;
        }
        return PROVIDER_RESULT_NOT_SUPPORTED;
    }
    const uint32_t code = static_cast<uint32_t>(KelJson::GetInt(body, "code"));
    {
        QvCommon::Synchronize::AutoLock lock(m_lock);
        m_sends.push_back(Message(classId, messageId, body));
    }
    body = JsonValue{{"ok", 1}};
    return code;
}

uint32_t TestController::PostMessageToProvider(uint32_t classId, uint32_t messageId, const JsonValue& body) {
    QvCommon::Synchronize::AutoLock lock(m_lock);
    m_posts.push_back(Message(classId, messageId, body));
    return 0;
}

uint32_t TestController::AddMessageListener(uint32_t listenerClass, ListenerProc proc, void* context) {
    uint32_t added = m_broker.AddMessageListener(listenerClass, proc, context);
    if (added == 0) {
        QvCommon::Synchronize::AutoLock lock(m_lock);
        m_listeners.insert({listenerClass, context});
    }
    return added;
}

uint32_t TestController::RemoveMessageListener(uint32_t listenerClass, ListenerProc proc, void* context) {
    {
        QvCommon::Synchronize::AutoLock lock(m_lock);
        m_listeners.erase({listenerClass, context});
    }
    return m_broker.RemoveMessageListener(listenerClass, proc, context);
}

uint32_t TestController::BroadcastMessageToListeners(uint32_t messageId, const JsonValue& body) {
    return m_broker.BroadcastMessageToListeners(messageId, body);
}

JsonValue TestController::State() {
    QvCommon::Synchronize::AutoLock lock(m_lock);
    JsonValue listeners = JsonValue::object();
    for (const auto& listener : m_listeners) {
        JsonValue& count = listeners[std::to_string(listener.first)];
        count = count.is_null() ? 1 : count.get<int>() + 1;
    }
    return JsonValue{{"sends", m_sends}, {"posts", m_posts}, {"listeners", listeners}};
}
