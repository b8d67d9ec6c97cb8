#include "IpcClassFactory.h"
#include "IpcCommand.h"
#include "ProviderWrappers.h"
#include "QvLog.h"

CIpcClientProviderWrapper::~CIpcClientProviderWrapper() {
    if (!m_clientInitialized) return;
    IpcClassFactory::Instance().ReleaseClient(m_sessionClient);
    IpcClassFactory::Instance().ReleaseClient(m_systemClient);
}

bool CIpcClientProviderWrapper::Initialize() {
    if (m_clientInitialized) return true;
    // The sizes on the wire, the same on every architecture.
    QVLOG(QVLOG_TRACE, L"CIpcClientProviderWrapper::Initialize: sizeof CIpcCommand = %d",
          static_cast<int>(CIpcCommand::HEADER_SIZE));
    QVLOG(QVLOG_TRACE, L"CIpcClientProviderWrapper::Initialize: sizeof uint32_t = %d",
          static_cast<int>(sizeof(uint32_t)));
    QVLOG(QVLOG_TRACE, L"CIpcClientProviderWrapper::Initialize: sizeof IPCST_IPCINFO = %d",
          static_cast<int>(sizeof(IPCST_IPCINFO)));
    QVLOG(QVLOG_TRACE, L"CIpcClientProviderWrapper::Initialize: sizeof IPCST_DATA = %d",
          static_cast<int>(CIpcCommand::DATA_WIRE_SIZE));
    QVLOG(QVLOG_TRACE, L"CIpcClientProviderWrapper::Initialize: sizeof IPCST_RETINFO = %d",
          static_cast<int>(sizeof(IPCST_RETINFO)));

    IpcClassFactory& factory = IpcClassFactory::Instance();
    m_systemClient = factory.CreateClient(true);
    m_sessionClient = factory.CreateClient(false);
    if (m_systemClient && m_sessionClient) {
        m_clientInitialized = true;
        return true;
    }
    // Nothing half made stays behind: a client obtained alone goes back.
    if (m_systemClient) factory.ReleaseClient(m_systemClient);
    if (m_sessionClient) factory.ReleaseClient(m_sessionClient);
    m_systemClient = m_sessionClient = nullptr;
    QVLOG(QVLOG_ERROR, L"CIpcClientProviderWrapper::Initialize: Failed to create IPC client.");
    return false;
}

IProviderController* CIpcClientProviderWrapper::ClientForFamily(uint32_t family) const {
    return IsSessionFamily(family) ? m_sessionClient : m_systemClient;
}

uint32_t CIpcClientProviderWrapper::SendMessageToProvider(uint32_t classId, uint32_t messageId,
                                                          JsonValue& body) {
    if (!m_clientInitialized) return PROVIDER_RESULT_NOT_INITIALIZED;
    return ClientForFamily(MessageFamily(messageId))->SendMessageToProvider(classId, messageId, body);
}

uint32_t CIpcClientProviderWrapper::PostMessageToProvider(uint32_t classId, uint32_t messageId,
                                                          const JsonValue& body) {
    if (!m_clientInitialized) return PROVIDER_RESULT_NOT_INITIALIZED;
    return ClientForFamily(MessageFamily(messageId))->PostMessageToProvider(classId, messageId, body);
}

uint32_t CIpcClientProviderWrapper::ControlMessage(uint32_t messageId, uint32_t value) {
    if (!m_clientInitialized) return PROVIDER_RESULT_NOT_INITIALIZED;
    return ClientForFamily(MessageFamily(messageId))->ControlMessage(messageId, value);
}

// A listener class is 16 bits; its high byte is the family.
uint32_t CIpcClientProviderWrapper::AddMessageListener(uint32_t listenerClass, ListenerProc proc,
                                                       void* context) {
    if (!m_clientInitialized) return PROVIDER_RESULT_NOT_INITIALIZED;
    return ClientForFamily(listenerClass >> 8)->AddMessageListener(listenerClass, proc, context);
}

uint32_t CIpcClientProviderWrapper::RemoveMessageListener(uint32_t listenerClass, ListenerProc proc,
                                                          void* context) {
    if (!m_clientInitialized) return PROVIDER_RESULT_NOT_INITIALIZED;
    return ClientForFamily(listenerClass >> 8)->RemoveMessageListener(listenerClass, proc, context);
}

// Both pipes hear every broadcast, whatever the first one said; the caller
// sees the system pipe's answer.
uint32_t CIpcClientProviderWrapper::BroadcastMessageToListeners(uint32_t messageId, const JsonValue& body) {
    if (!m_clientInitialized) return PROVIDER_RESULT_NOT_INITIALIZED;
    uint32_t session = m_sessionClient->BroadcastMessageToListeners(messageId, body);
    if (IsProviderFailure(session))
        QVLOG(QVLOG_ERROR, L"CIpcClientProviderWrapper::BroadcastMessageToListeners: session pipe failed: 0x%08x",
              session);
    uint32_t system = m_systemClient->BroadcastMessageToListeners(messageId, body);
    if (IsProviderFailure(system))
        QVLOG(QVLOG_ERROR, L"CIpcClientProviderWrapper::BroadcastMessageToListeners: system pipe failed: 0x%08x",
              system);
    return system;
}
