#pragma once
// The provider controller of another process, seen from this one: a send
// becomes an OIPC_QUERY to that process's pipe, a post an OIPC_REQUEST, and a
// listener registers this process there as a remote listener (OIPC_ADVISE)
// whose broadcasts arrive as OIPC_NOTIFY on a notify pipe of our own, where a
// local broker hands them to the listeners.
#include <windows.h>
#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include "IpcDefs.h"
#include "IpcPeer.h"
#include "ListenAgain.h"
#include "MessageBroker.h"
#include "ProviderInterfaces.h"
#include "Synchronize.h"

class CIpcClient : public IProviderController {
public:
    // queryTimeoutMs bounds the wait for the answer to a send.
    explicit CIpcClient(DWORD queryTimeoutMs = IPC_QUERY_TIMEOUT_MS);
    ~CIpcClient() override;
    CIpcClient(const CIpcClient&) = delete;
    CIpcClient& operator=(const CIpcClient&) = delete;

    // Opens no pipe: the server need not exist yet.
    bool Initialize(const std::wstring& serverPipeName);
    void Uninitialize();
    bool IsInitialized() const { return m_initialized; }

    // The reply replaces the body; the result is the provider's code, or the
    // transport's failure code (the body is then unchanged).
    uint32_t SendMessageToProvider(uint32_t classId, uint32_t messageId, JsonValue& body) override;
    // Queued: a missing server is not reported to the caller.
    uint32_t PostMessageToProvider(uint32_t classId, uint32_t messageId, const JsonValue& body) override;
    uint32_t AddMessageListener(uint32_t classId, ListenerProc proc, void* context) override;
    // Local only: the server goes on relaying to our notify pipe.
    uint32_t RemoveMessageListener(uint32_t classId, ListenerProc proc, void* context) override;
    uint32_t BroadcastMessageToListeners(uint32_t messageId, const JsonValue& body) override;

    bool BroadcastIpcAdvise(uint32_t classId);
    static uint32_t NotifyRcvCallback(CIpcCommand& command, void* client);
    uint32_t HandleNotifyRcvCallback(CIpcCommand& command);

    // Empty until the first listener is added.
    std::wstring GetNotifyPipeName() const;

private:
    uint32_t SendOrPost(bool query, uint32_t classId, uint32_t messageId, const JsonValue& body, JsonValue* reply);
    // Makes and starts the notify receiver once; false when no pipe name could be made.
    bool EnsureNotifyReceiver();

    std::unique_ptr<CIpcPeer> m_notifyReceiver;
    CListenAgain m_notifyListenAgain{L"CIpcClient"};
    std::unique_ptr<CIpcPeer> m_sender;
    std::unique_ptr<MessageBroker> m_broker;
    std::atomic<bool> m_initialized{false};
    std::wstring m_notifyPipeName;
    // Guards the making of the notify receiver, which any caller may trigger.
    mutable QvCommon::Synchronize::CriticalSection m_receiverLock;
    DWORD m_queryTimeoutMs;
};
