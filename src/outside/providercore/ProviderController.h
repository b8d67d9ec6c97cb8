#pragma once
// The controller of a set of providers in one process (the provider library,
// the product's service): keeps the providers by class, delivers sends in
// place and posts on worker threads, keeps the listener registry in a message
// broker, and reaches everything outside (the other side, other processes)
// through the host controller it was given, when it has one.
#include <windows.h>
#include <cstdint>
#include <map>
#include <memory>
#include <vector>
#include "CmdQueue.h"
#include "MessageBroker.h"
#include "ProviderInterfaces.h"
#include "Synchronize.h"

class CProviderController : public IProviderController {
public:
    explicit CProviderController(IProviderController* host);
    ~CProviderController() override;
    CProviderController(const CProviderController&) = delete;
    CProviderController& operator=(const CProviderController&) = delete;

    bool Start();
    // Posts still queued are dropped; the broker releases its listeners.
    // False when a post worker was still inside a provider after the time-out:
    // the worker goes on in this object's code and data, so the owner must
    // neither destroy the controller nor unload the module that holds it.
    bool Stop();

    uint32_t SendMessageToProvider(uint32_t classId, uint32_t messageId, JsonValue& body) override;
    uint32_t PostMessageToProvider(uint32_t classId, uint32_t messageId, const JsonValue& body) override;
    uint32_t AddMessageListener(uint32_t listenerClass, ListenerProc proc, void* context) override;
    uint32_t RemoveMessageListener(uint32_t listenerClass, ListenerProc proc, void* context) override;
    uint32_t BroadcastMessageToListeners(uint32_t messageId, const JsonValue& body) override;
    uint32_t RegisterProvider(IFunctionProvider* provider) override;
    // Returns once no call into the provider is in progress any more.
    uint32_t UnregisterProvider(uint32_t classId) override;

    // Calls the life-cycle operation on every registered provider.
    void PostInitializeProviders();

private:
    struct Registration;
    struct PostItem;

    std::shared_ptr<Registration> Acquire(uint32_t classId);
    void ReleaseCall(const std::shared_ptr<Registration>& registration);
    uint32_t Deliver(uint32_t classId, uint32_t messageId, JsonValue& body);
    bool HasProvider(uint32_t classId);
    bool IsOutside(uint32_t classId, uint32_t messageId);
    static void PostWorker(CmdQueueItem& item);
    static void DropPost(CmdQueueItem& item);

    IProviderController* m_host;
    QvCommon::Synchronize::CriticalSection m_lock;   // guards the map and the call counts
    std::map<uint32_t, std::shared_ptr<Registration>> m_providers;
    MessageBroker m_broker;
    std::unique_ptr<CmdQueue> m_posts;
    // Queues whose workers did not end within the time-out; kept for them.
    std::vector<std::unique_ptr<CmdQueue>> m_stalledPosts;
};
