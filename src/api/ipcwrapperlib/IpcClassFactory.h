#pragma once
// The process's two IPC clients: one for the session pipe, served by the
// session's agent, and one for the system pipe, served by the product's
// service. Both are initialised together by the first user, whichever it asks
// for, and uninitialised together when the last user releases its client.
#include "IpcClient.h"
#include "ReferenceCount.h"

class IpcClassFactory : public ReferenceCount {
public:
    // Made on first use, destroyed at process exit.
    static IpcClassFactory& Instance();

    // The system or the session client, or null when they could not be
    // initialised. The first call is expected from one thread at start-up.
    CIpcClient* CreateClient(bool system);
    void ReleaseClient(CIpcClient* client);

    ~IpcClassFactory() override;

private:
    IpcClassFactory() = default;

    CIpcClient m_sessionClient;
    CIpcClient m_systemClient;
};
