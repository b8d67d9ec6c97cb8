#pragma once
// Makes a provider controller reachable from other processes: a listening
// peer turns each received request into a post, each query into a send whose
// reply goes back as OIPC_RESULT, and each advise into a remote listener,
// whose relay the controller calls with the broadcasts of its class and which
// forwards them as OIPC_NOTIFY to the listener's notify pipe.
#include <windows.h>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include "IpcPeer.h"
#include "ListenAgain.h"
#include "ProviderInterfaces.h"
#include "Synchronize.h"

class CIpcServer {
public:
    // One process that listens for the broadcasts of one class on its notify
    // pipe. Reference counted: the server's map holds one reference, the
    // controller's registry one from registration until its release call,
    // and each relay in progress one, so a relay keeps the listener alive
    // while another thread removes it.
    class RemoteListener {
    public:
        RemoteListener(CIpcServer* server, uint32_t classId, const std::wstring& pipeName);
        RemoteListener(const RemoteListener&) = delete;
        RemoteListener& operator=(const RemoteListener&) = delete;

        LONG AddRef();
        // Destroys the listener when the count reaches 0.
        LONG Release();
        // Removes the listener from its server; true when it was still open.
        bool Close();
        // Forgets the server without removing anything (the server is going).
        void Detach();

        // The relay registered with the controller (a ListenerProc).
        static void RelayMessage(void* listener, uint32_t messageId, JsonValue& body);

        uint32_t GetClassId() const { return m_classId; }
        const std::wstring& GetPipeName() const { return m_pipeName; }

    private:
        ~RemoteListener();

        volatile LONG m_refCount = 1;
        CIpcServer* m_server;
        uint32_t m_classId;
        std::wstring m_pipeName;
        QvCommon::Synchronize::CriticalSection m_lock;   // taken before the server's listener lock
    };

    CIpcServer() = default;
    virtual ~CIpcServer();
    CIpcServer(const CIpcServer&) = delete;
    CIpcServer& operator=(const CIpcServer&) = delete;

    // Does not start listening.
    uint32_t Initialize(IProviderController* controller, const std::wstring& pipeName);
    // Listens until Stop. A result record sent to a listening peer ends its
    // loop by design: the server then logs it and listens again.
    uint32_t Start();
    uint32_t Stop();
    void Uninitialize();

    static uint32_t RcvCallback(CIpcCommand& command, void* server);
    uint32_t HandleRcvCallback(CIpcCommand& command);

    // The new listener, or null when one exists for the class and pipe.
    RemoteListener* AddRemoteListener(uint32_t classId, const std::wstring& pipeName);
    void RemoveRemoteListener(uint32_t classId, const std::wstring& pipeName);

private:
    static KelJson::JsonRead ReadBody(const CIpcCommand& command, JsonValue& body);
    uint32_t Dispatch(CIpcCommand& command);
    static bool TurnIntoResult(CIpcCommand& command, uint32_t result, const std::wstring& reply);
    uint32_t HandleRequest(CIpcCommand& command);
    uint32_t HandleQuery(CIpcCommand& command);
    uint32_t HandleAdvise(CIpcCommand& command);
    static std::wstring ListenerKey(uint32_t classId, const std::wstring& pipeName);

    std::unique_ptr<CIpcPeer> m_peer;
    CListenAgain m_listenAgain{L"CIpcServer"};
    IProviderController* m_controller = nullptr;
    bool m_initialized = false;
    QvCommon::Synchronize::CriticalSection m_listenerLock;
    std::map<std::wstring, RemoteListener*> m_listeners;
};
