#pragma once
// The controller and provider interfaces every provider, wrapper and client
// implements. Result codes: ProviderResult.h. A body is a JSON value (an
// object, or null for a message without arguments); a send's reply comes
// back in the same value.
#include <cstdint>
#include "JsonBody.h"
#include "ProviderResult.h"

// Called with (context, message id, body); message id 0 with a null body tells
// the listener that it was removed and will not be called again.
typedef void (*ListenerProc)(void* context, uint32_t messageId, JsonValue& body);

// Families of the session side; every other family is the system side's.
constexpr uint32_t PROVIDER_FAMILY_PIN = 0x11;
constexpr uint32_t PROVIDER_FAMILY_WORKSPACE = 0x18;
constexpr uint32_t PROVIDER_FAMILY_SESSION_19 = 0x19;
constexpr uint32_t PROVIDER_FAMILY_SESSION_1C = 0x1C;

inline uint32_t MessageFamily(uint32_t messageId) { return messageId >> 24; }
inline uint32_t ListenerClassOf(uint32_t messageId) { return messageId >> 16; }
inline bool IsSessionFamily(uint32_t family) {
    return family == PROVIDER_FAMILY_PIN || family == PROVIDER_FAMILY_WORKSPACE ||
           family == PROVIDER_FAMILY_SESSION_19 || family == PROVIDER_FAMILY_SESSION_1C;
}

class IFunctionProvider;

class IProviderController {
public:
    virtual ~IProviderController() = default;
    virtual uint32_t SendMessageToProvider(uint32_t classId, uint32_t messageId, JsonValue& body) {
        (void)classId; (void)messageId; (void)body;
        return PROVIDER_RESULT_NOT_SUPPORTED;
    }
    virtual uint32_t PostMessageToProvider(uint32_t classId, uint32_t messageId, const JsonValue& body) {
        (void)classId; (void)messageId; (void)body;
        return PROVIDER_RESULT_NOT_SUPPORTED;
    }
    virtual uint32_t ControlMessage(uint32_t messageId, uint32_t value) {
        (void)messageId; (void)value;
        return PROVIDER_RESULT_NOT_SUPPORTED;
    }
    virtual uint32_t AddMessageListener(uint32_t listenerClass, ListenerProc proc, void* context) {
        (void)listenerClass; (void)proc; (void)context;
        return PROVIDER_RESULT_NOT_SUPPORTED;
    }
    virtual uint32_t RemoveMessageListener(uint32_t listenerClass, ListenerProc proc, void* context) {
        (void)listenerClass; (void)proc; (void)context;
        return PROVIDER_RESULT_NOT_SUPPORTED;
    }
    virtual uint32_t BroadcastMessageToListeners(uint32_t messageId, const JsonValue& body) {
        (void)messageId; (void)body;
        return PROVIDER_RESULT_NOT_SUPPORTED;
    }
    virtual uint32_t RegisterProvider(IFunctionProvider* provider) {
        (void)provider;
        return PROVIDER_RESULT_NOT_SUPPORTED;
    }
    virtual uint32_t UnregisterProvider(uint32_t classId) {
        (void)classId;
        return PROVIDER_RESULT_NOT_SUPPORTED;
    }
};

class IFunctionProvider {
public:
    explicit IFunctionProvider(IProviderController* controller) : m_controller(controller) {}
    virtual ~IFunctionProvider() = default;
    virtual uint32_t Initialize() = 0;
    virtual uint32_t PostInitialize() = 0;
    virtual uint32_t Uninitialize() = 0;
    virtual uint32_t MessageProc(uint32_t messageId, JsonValue& body) = 0;
    virtual bool QueryState(uint32_t first, uint32_t second) = 0;

    uint32_t GetClassId() const { return m_classId; }
    IProviderController* GetController() const { return m_controller; }

protected:
    uint32_t m_classId = 0;
    IProviderController* m_controller;
};
