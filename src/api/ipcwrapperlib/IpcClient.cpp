#include "IpcClient.h"
#include "Process.h"
#include "QvLog.h"

#include <new>

CIpcClient::CIpcClient(DWORD queryTimeoutMs) : m_queryTimeoutMs(queryTimeoutMs) {}

CIpcClient::~CIpcClient() { Uninitialize(); }

bool CIpcClient::Initialize(const std::wstring& serverPipeName) {
    if (m_initialized) return true;
    try {
        m_sender.reset(new CIpcPeer(m_queryTimeoutMs));
        m_sender->SetPipeName(serverPipeName);
        m_broker.reset(new MessageBroker);
    } catch (const std::bad_alloc&) {
        QVLOG(QVLOG_ERROR, L"CIpcClient::Initialize: Out of memory.");
        Uninitialize();
        return false;
    }
    if (!m_broker->Start()) {
        QVLOG(QVLOG_ERROR, L"CIpcClient::Initialize: Unable to start message broker.");
        Uninitialize();
        return false;
    }
    m_initialized = true;
    return true;
}

void CIpcClient::Uninitialize() {
    m_initialized = false;
    m_sender.reset();   // its queue drains what is still to be sent
    {
        QvCommon::Synchronize::AutoLock lock(m_receiverLock);
        m_notifyListenAgain.Stop();
        if (m_notifyReceiver) m_notifyReceiver->ReceiveStop();
        m_notifyReceiver.reset();
        m_notifyPipeName.clear();
    }
    if (m_broker) m_broker->Stop();
    m_broker.reset();
}

std::wstring CIpcClient::GetNotifyPipeName() const {
    QvCommon::Synchronize::AutoLock lock(m_receiverLock);
    return m_notifyPipeName;
}

uint32_t CIpcClient::SendMessageToProvider(uint32_t classId, uint32_t messageId, JsonValue& body) {
    return SendOrPost(true, classId, messageId, body, &body);
}

uint32_t CIpcClient::PostMessageToProvider(uint32_t classId, uint32_t messageId, const JsonValue& body) {
    return SendOrPost(false, classId, messageId, body, nullptr);
}

uint32_t CIpcClient::SendOrPost(bool query, uint32_t classId, uint32_t messageId, const JsonValue& body,
                                JsonValue* reply) {
    if (!m_initialized) return PROVIDER_RESULT_NOT_INITIALIZED;
    try {
        CIpcCommand command;
        command.SetCommandType(query ? OIPC_QUERY : OIPC_REQUEST);
        command.SetIpcInfo({classId, messageId});
        const std::wstring text = KelJson::Write(body);
        if (!command.PutPayloadData(text)) return PROVIDER_RESULT_OUT_OF_MEMORY;
        QVLOG(QVLOG_INFO, L"====> Sending IPC command: [0x%x, 0x%x, (%d chars body)]", classId, messageId,
              static_cast<int>(text.size()));
        uint32_t result = m_sender->Send(command);
        if (!query || result >= PROVIDER_FAILURE_BITS) return result;
        std::wstring answer;
        if (!command.GetPayloadData(answer)) return PROVIDER_RESULT_OUT_OF_MEMORY;
        // An answer that is not JSON leaves the caller's body as it was.
        KelJson::Parse(answer, *reply);
        result = command.GetReturnValue();
        QVLOG(QVLOG_INFO, L"<==== Received IPC response from server: [0x%x, (%d chars body)]", result,
              static_cast<int>(answer.size()));
        return result;
    } catch (const std::bad_alloc&) {
        return PROVIDER_RESULT_OUT_OF_MEMORY;
    }
}

bool CIpcClient::EnsureNotifyReceiver() {
    QvCommon::Synchronize::AutoLock lock(m_receiverLock);
    if (m_notifyReceiver) return true;
    GUID guid;
    std::wstring name;
    if (FAILED(::CoCreateGuid(&guid)) || FAILED(QvCommon::String::GuidToText(guid, name)) || name.size() < 2) {
        QVLOG(QVLOG_ERROR, L"CIpcClient::AddMessageListener: Unable to create pipe name for receiving IPC notifications.");
        return false;
    }
    std::unique_ptr<CIpcPeer> receiver(new CIpcPeer);
    receiver->SetCallback(&CIpcClient::NotifyRcvCallback, this);
    m_notifyPipeName = name.substr(1, name.size() - 2);   // without the braces
    receiver->SetPipeName(m_notifyPipeName);
    QVLOG(QVLOG_TRACE, L"CIpcClient::AddMessageListener: Starting IPC notify receiver [%s]", m_notifyPipeName.c_str());
    uint32_t started = receiver->ReceiveStart();
    // Listeners are still added and advised; they just hear nothing.
    if (started != 0)
        QVLOG(QVLOG_ERROR, L"CIpcClient::AddMessageListener: Failed to start IPC notify receiver: 0x%08x", started);
    else
        m_notifyListenAgain.Start(receiver.get());
    m_notifyReceiver = std::move(receiver);
    return true;
}

uint32_t CIpcClient::AddMessageListener(uint32_t classId, ListenerProc proc, void* context) {
    if (!m_initialized) return PROVIDER_RESULT_NOT_INITIALIZED;
    try {
        if (!EnsureNotifyReceiver()) return IPC_RESULT_NOT_CREATED;
        uint32_t added = m_broker->AddMessageListener(classId, proc, context);
        // Every call advises, also for a class advised before: the server
        // ignores a repeated advise, and one that was lost is made good.
        BroadcastIpcAdvise(classId);
        return added;
    } catch (const std::bad_alloc&) {
        QVLOG(QVLOG_ERROR, L"CIpcClient::AddMessageListener: Out of memory.");
        return PROVIDER_RESULT_OUT_OF_MEMORY;
    }
}

uint32_t CIpcClient::RemoveMessageListener(uint32_t classId, ListenerProc proc, void* context) {
    if (!m_initialized) return PROVIDER_RESULT_NOT_INITIALIZED;
    return m_broker->RemoveMessageListener(classId, proc, context);
}

uint32_t CIpcClient::BroadcastMessageToListeners(uint32_t messageId, const JsonValue& body) {
    if (!m_initialized) return PROVIDER_RESULT_NOT_INITIALIZED;
    return m_broker->BroadcastMessageToListeners(messageId, body);
}

bool CIpcClient::BroadcastIpcAdvise(uint32_t classId) {
    if (!m_initialized) return false;
    const std::wstring pipeName = GetNotifyPipeName();
    CIpcCommand advise;
    advise.SetCommandType(OIPC_ADVISE);
    advise.SetIpcInfo({0, classId});
    if (!advise.PutPayloadData(pipeName)) return false;
    QVLOG(QVLOG_INFO, L"====> Sending IPC advise: [0x%x, \"%s\"] to %s", classId, pipeName.c_str(),
          m_sender->GetPipeName().c_str());
    uint32_t sent = m_sender->Send(advise);
    if (IsProviderFailure(sent)) {
        QVLOG(QVLOG_ERROR, L"CIpcClient::BroadcastIpcAdvise: Failed to send IPC advise: error = 0x%08x", sent);
        return false;
    }
    return true;
}

uint32_t CIpcClient::NotifyRcvCallback(CIpcCommand& command, void* client) {
    return static_cast<CIpcClient*>(client)->HandleNotifyRcvCallback(command);
}

uint32_t CIpcClient::HandleNotifyRcvCallback(CIpcCommand& command) {
    if (command.GetCommandType() != OIPC_NOTIFY) {
        QVLOG(QVLOG_ERROR, L"CIpcClient::HandleNotifyRcvCallback: Unsupported command type: %d",
              command.GetCommandType());
        return 0;
    }
    QVLOG(QVLOG_INFO, L"<---- Received IPC notify 0x%08x", command.GetMessageId());
    std::wstring text;
    JsonValue body;
    if (!command.GetPayloadData(text) || !KelJson::Parse(text, body)) return PROVIDER_RESULT_INVALID_PARAMETER;
    return BroadcastMessageToListeners(command.GetMessageId(), body);
}
