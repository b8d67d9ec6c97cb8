#include "IpcClassFactory.h"
#include "QvLog.h"

IpcClassFactory& IpcClassFactory::Instance() {
    static IpcClassFactory s_factory;
    return s_factory;
}

IpcClassFactory::~IpcClassFactory() {
    const uint32_t count = GetCount();
    if (count != 0)
        QVLOG(QVLOG_ERROR, L"IpcClassFactory::~IpcClassFactory: Rerference count is not zero (%d).", count);
}

CIpcClient* IpcClassFactory::CreateClient(bool system) {
    if (GetCount() == 0) {
        if (!m_sessionClient.Initialize(IPC_SESSION_PIPE)) return nullptr;
        if (!m_systemClient.Initialize(IPC_SYSTEM_PIPE)) {
            m_sessionClient.Uninitialize();
            return nullptr;
        }
    }
    AddRef();
    return system ? &m_systemClient : &m_sessionClient;
}

void IpcClassFactory::ReleaseClient(CIpcClient* client) {
    if (client != &m_sessionClient && client != &m_systemClient) {
        QVLOG(QVLOG_ERROR, L"IpcClassFactory::ReleaseClient: Invalid pointer.");
        return;
    }
    if (Release() == 0) {
        m_sessionClient.Uninitialize();
        m_systemClient.Uninitialize();
    }
}
