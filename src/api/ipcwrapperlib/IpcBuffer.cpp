#include "IpcPeer.h"
#include "IpcGuard.h"
#include "ProviderResult.h"
#include "QvLog.h"

#include <cstring>
#include <new>

namespace {

const wchar_t* CommandTypeName(uint32_t type) {
    switch (type) {
    case OIPC_REQUEST: return L"OIPC_REQUEST";
    case OIPC_RESULT:  return L"OIPC_RESULT";
    case OIPC_QUERY:   return L"OIPC_QUERY";
    case OIPC_ADVISE:  return L"OIPC_ADVISE";
    case OIPC_NOTIFY:  return L"OIPC_NOTIFY";
    default:           return L"";
    }
}

uint32_t FirstWord(const std::string& message) {
    uint32_t word = 0;
    std::memcpy(&word, message.data(), message.size() < sizeof(word) ? message.size() : sizeof(word));
    return word;
}

} // namespace

CIpcBuffer::CIpcBuffer(uint32_t commandType, HANDLE event, CIpcPeer* owner, CPipeServer* pipeServer)
    : m_commandType(commandType), m_event(event), m_owner(owner), m_pipeServer(pipeServer) {}

bool CIpcBuffer::StoreCommand(const CIpcCommand& command) {
    try {
        std::vector<BYTE> bytes = command.Serialized();
        if (bytes.empty()) return false;
        m_bytes.swap(bytes);
        return true;
    } catch (const std::bad_alloc&) {
        return false;
    }
}

bool CIpcBuffer::ReadCommand(CIpcCommand& command) const {
    if (m_bytes.size() < CIpcCommand::HEADER_SIZE) return false;
    return command.Deserialize(m_bytes.data(), static_cast<uint32_t>(m_bytes.size()));
}

// The event, or for a return pipe the deadline, ended the wait.
bool CIpcBuffer::IsEventSignaled() const {
    if (m_pipeServer && m_pipeServer->Expired()) return true;
    return m_event && m_event != INVALID_HANDLE_VALUE &&
           ::WaitForSingleObject(m_event, 0) == WAIT_OBJECT_0;
}

DWORD CIpcBuffer::SenderProc() {
    DWORD lastError = 0;
    for (const std::wstring& destination : m_destinations) {
        QVLOG(QVLOG_TRACE, L"CIpcBuffer::SenderProc: Sending IPC command type %d to IPC server [%s]",
              m_commandType, destination.c_str());
        CPipeClient client(m_owner ? m_owner->GetQueryTimeout() : IPC_QUERY_TIMEOUT_MS);
        if (!client.Initial(destination.c_str())) {
            DWORD error = ::GetLastError();
            if (error == ERROR_FILE_NOT_FOUND) {
                lastError = error;
                continue;
            }
            QVLOG(QVLOG_ERROR, L"CIpcBuffer::SenderProc: Failed to initialize IPC client: 0x%x", error);
            return error;
        }
        DWORD size = static_cast<DWORD>(m_bytes.size());
        if (!client.Send(m_bytes.data(), &size)) {
            lastError = ::GetLastError();
            QVLOG(QVLOG_ERROR, L"CIpcBuffer::SenderProc: Failed to send IPC data: 0x%x", lastError);
        }
        // Closing the connection is what ends the message for the reader.
        client.Close();
    }
    return lastError;
}

uint32_t CIpcBuffer::ReceiverProc() {
    if (!m_pipeServer) {
        QVLOG(QVLOG_ERROR, L"CIpcBuffer::ReceiverProc: Pipe server is not assigned.");
        return PROVIDER_RESULT_FAILED;
    }
    uint32_t code = 0;
    std::string message;
    for (;;) {
        QVLOG(QVLOG_TRACE, L"CIpcBuffer::ReceiverProc: Waiting for IPC data.");
        if (!m_pipeServer->FetchCmd(message)) {
            if (IsEventSignaled()) {
                QVLOG(QVLOG_TRACE, L"CIpcBuffer::ReceiverProc: Finished (stop event signaled).");
                return 0;
            }
            code = ::GetLastError();
            QVLOG(QVLOG_ERROR, L"CIpcBuffer::ReceiverProc: FetchCmd() failed: 0x%08x", code);
            continue;
        }
        if (message.empty()) continue;   // a writer that connected and wrote nothing

        QVLOG(QVLOG_TRACE, L"CIpcBuffer::ReceiverProc: IPC data received: %d bytes.",
              static_cast<int>(message.size()));
        if (message.size() < CIpcCommand::HEADER_SIZE || FirstWord(message) != CIpcCommand::HEADER_SIZE) {
            QVLOG(QVLOG_ERROR, L"CIpcBuffer::ReceiverProc: IPC data dropped: invalid header size (%d, %d)",
                  CIpcCommand::HEADER_SIZE, FirstWord(message));
            continue;
        }
        CIpcCommand* command = new (std::nothrow) CIpcCommand;
        if (!command) {
            QVLOG(QVLOG_ERROR, L"CIpcBuffer::ReceiverProc: Out of memory.");
            continue;
        }
        if (!command->Deserialize(reinterpret_cast<const BYTE*>(message.data()),
                                  static_cast<uint32_t>(message.size()))) {
            QVLOG(QVLOG_ERROR, L"CIpcBuffer::ReceiverProc: Failed to deserialize IPC command, discard it.");
            delete command;
            continue;
        }

        const uint32_t type = command->GetCommandType();
        if (type >= OIPC_REQUEST && type <= OIPC_NOTIFY)
            QVLOG(QVLOG_TRACE, L"CIpcBuffer::ReceiverProc: %s", CommandTypeName(type));
        switch (type) {
        case OIPC_REQUEST:
        case OIPC_QUERY: {
            CIpcPeer::StorePeer(*command, m_owner);
            uint32_t queued = m_owner->AddToCommandQueue(
                type == OIPC_REQUEST ? CMDQ_RECEIVE_REQUEST : CMDQ_RECEIVE_QUERY, command);
            if (queued != 0) {
                QVLOG(QVLOG_ERROR, L"CIpcBuffer::ReceiverProc: AddToCommandQueue() failed: 0x%08x", queued);
                delete command;
            }
            break;
        }
        case OIPC_ADVISE:
        case OIPC_NOTIFY: {
            const uint32_t result =
                IpcGuard::Call(L"CIpcBuffer::ReceiverProc", [&] { return m_owner->RunCallback(*command); });
            if (IsProviderFailure(result))
                QVLOG(QVLOG_INFO, L"CIpcBuffer::ReceiverProc: RunCallback() failed: 0x%08x", result);
            delete command;
            break;
        }
        case OIPC_RESULT:
            // A result ends the loop wherever it arrives.
            m_commandType = OIPC_RESULT;
            if (!StoreCommand(*command)) {
                QVLOG(QVLOG_ERROR, L"CIpcBuffer::ReceiverProc: Out of memory.");
                code = PROVIDER_RESULT_OUT_OF_MEMORY;
            }
            delete command;
            return code;
        default:
            QVLOG(QVLOG_ERROR, L"CIpcBuffer::ReceiverProc: Unknown IPC command type: %d", type);
            delete command;
            break;
        }
    }
}
