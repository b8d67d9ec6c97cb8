#pragma once
// The provider controller in front of the IPC transport, so that a caller
// never needs to know in which process a provider lives. The client wrapper
// reaches other processes only: the session pipe for the session side's
// families, the system pipe for every other. The server wrapper is what the
// agent hands to everything as its controller: it loads the provider library,
// handles its own side's messages through the library's controller, serves
// them on the session pipe, and sends the rest over the system pipe.
#include <windows.h>
#include <atomic>
#include <cstdint>
#include <memory>
#include "IpcClient.h"
#include "IpcServer.h"
#include "LibProviderManager.h"
#include "ProviderInterfaces.h"

// Sides of a server wrapper.
constexpr uint32_t PROVIDER_SIDE_SESSION = 0;
constexpr uint32_t PROVIDER_SIDE_SYSTEM = 1;

class CIpcClientProviderWrapper : public IProviderController {
public:
    CIpcClientProviderWrapper() = default;
    ~CIpcClientProviderWrapper() override;
    CIpcClientProviderWrapper(const CIpcClientProviderWrapper&) = delete;
    CIpcClientProviderWrapper& operator=(const CIpcClientProviderWrapper&) = delete;

    bool Initialize();

    uint32_t SendMessageToProvider(uint32_t classId, uint32_t messageId, JsonValue& body) override;
    uint32_t PostMessageToProvider(uint32_t classId, uint32_t messageId, const JsonValue& body) override;
    uint32_t ControlMessage(uint32_t messageId, uint32_t value) override;
    uint32_t AddMessageListener(uint32_t listenerClass, ListenerProc proc, void* context) override;
    uint32_t RemoveMessageListener(uint32_t listenerClass, ListenerProc proc, void* context) override;
    uint32_t BroadcastMessageToListeners(uint32_t messageId, const JsonValue& body) override;

protected:
    bool IsClientInitialized() const { return m_clientInitialized; }

private:
    IProviderController* ClientForFamily(uint32_t family) const;

    CIpcClient* m_sessionClient = nullptr;
    CIpcClient* m_systemClient = nullptr;
    bool m_clientInitialized = false;
};

class CIpcServerProviderWrapper : public CIpcClientProviderWrapper {
public:
    CIpcServerProviderWrapper() = default;
    ~CIpcServerProviderWrapper() override;

    bool Initialize();
    bool PostInitialize();
    bool Start();
    void Stop();
    void Uninitialize();

    // True while another process serves the session pipe, even when every
    // instance of it is busy.
    static bool IsSessionAgentRunning();

    uint32_t SendMessageToProvider(uint32_t classId, uint32_t messageId, JsonValue& body) override;
    uint32_t PostMessageToProvider(uint32_t classId, uint32_t messageId, const JsonValue& body) override;
    uint32_t ControlMessage(uint32_t messageId, uint32_t value) override;
    uint32_t AddMessageListener(uint32_t listenerClass, ListenerProc proc, void* context) override;
    uint32_t RemoveMessageListener(uint32_t listenerClass, ListenerProc proc, void* context) override;
    uint32_t BroadcastMessageToListeners(uint32_t messageId, const JsonValue& body) override;
    uint32_t RegisterProvider(IFunctionProvider* provider) override;
    uint32_t UnregisterProvider(uint32_t classId) override;

    bool IsInitialized() const { return m_initialized; }
    CIpcServer* GetServer() const { return m_server.get(); }

private:
    bool IsLocal(uint32_t family) const;
    void CleanUp();
    // Every call into the library's controller goes through here. From the
    // moment Uninitialize begins, calls answer 0x10000005 instead, and
    // Uninitialize waits for those already inside before the providers go.
    template <typename Fn>
    uint32_t CallController(Fn&& call) {
        struct Inside {
            std::atomic<long>& count;
            explicit Inside(std::atomic<long>& c) : count(c) { ++count; }
            ~Inside() { --count; }
        } inside(m_callsInside);
        return m_open ? call(*m_controller) : PROVIDER_RESULT_NOT_INITIALIZED;
    }

    uint32_t m_side = PROVIDER_SIDE_SESSION;
    LibProviderManager m_library;
    IProviderController* m_controller = nullptr;
    std::unique_ptr<CIpcServer> m_server;
    bool m_initialized = false;
    std::atomic<bool> m_open{false};          // calls are served
    std::atomic<long> m_callsInside{0};       // calls that passed the gate and have not returned
};
