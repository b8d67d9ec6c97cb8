#include "IpcCommand.h"
#include "IpcDefs.h"
#include "QvLog.h"

#include <cstddef>
#include <cstring>
#include <new>

namespace {
// Shared by every thread that makes records; the first record carries 1.
volatile LONG s_sequence = 0;
} // namespace

void CIpcCommand::CheckLayout() {
    static_assert(offsetof(CIpcCommand, m_headerSize) == 0, "offset");
    static_assert(offsetof(CIpcCommand, m_commandType) == 4, "offset");
    static_assert(offsetof(CIpcCommand, m_status) == 8, "offset");
    static_assert(offsetof(CIpcCommand, m_processId) == 12, "offset");
    static_assert(offsetof(CIpcCommand, m_threadId) == 16, "offset");
    static_assert(offsetof(CIpcCommand, m_sequence) == 20, "offset");
    static_assert(offsetof(CIpcCommand, m_ipcInfo) == 24, "offset");
    static_assert(offsetof(CIpcCommand, m_data) == 32, "offset");
    static_assert(offsetof(CIpcCommand, m_data) + offsetof(IPCST_DATA, data) ==
                      PAYLOAD_REFERENCE_OFFSET, "offset");
    static_assert(offsetof(CIpcCommand, m_padding) == 44, "offset");
    static_assert(offsetof(CIpcCommand, m_retInfo) == 48, "offset");
}

CIpcCommand::CIpcCommand()
    : m_headerSize(HEADER_SIZE), m_commandType(0), m_status(0),
      m_processId(::GetCurrentProcessId()), m_threadId(::GetCurrentThreadId()),
      m_sequence(static_cast<uint32_t>(::InterlockedIncrement(&s_sequence))),
      m_ipcInfo(), m_data(), m_padding(0), m_retInfo() {}

CIpcCommand::~CIpcCommand() { ReleasePayload(); }

void CIpcCommand::ReleasePayload() {
    delete[] m_data.data;
    m_data.data = nullptr;
    m_data.size = 0;
}

void CIpcCommand::ClearHeader() {
    // A rejected header leaves the record all zero; the payload block it owned
    // goes first so that nothing leaks.
    ReleasePayload();
    std::memset(static_cast<void*>(this), 0, sizeof(*this));
}

void CIpcCommand::Reset() {
    m_commandType = 0;
    m_status = 0;
    ReleasePayload();
    m_ipcInfo = IPCST_IPCINFO();
    m_data = IPCST_DATA();
    m_retInfo = IPCST_RETINFO();
}

void CIpcCommand::SetReturnInfo(uint32_t low) {
    m_retInfo.value = (m_retInfo.value & 0xFFFFFFFF00000000ull) | low;
}

bool CIpcCommand::PutPayloadData(const std::wstring& text) {
    if (m_data.data) {
        QVLOG(QVLOG_ERROR, L"CIpcCommand::PutPayloadData: Payload data is already allocated.");
        return false;
    }
    const size_t bytes = text.size() * sizeof(wchar_t);
    BYTE* block = new (std::nothrow) BYTE[bytes];
    if (!block) {
        QVLOG(QVLOG_ERROR, L"CIpcCommand::PutPayloadData: Out of memory.");
        return false;
    }
    std::memcpy(block, text.data(), bytes);
    m_data.data = block;
    m_data.size = static_cast<uint32_t>(bytes);
    QVLOG(QVLOG_TRACE, L"CIpcCommand::PutPayloadData: %d bytes of payload data copied.",
          static_cast<int>(bytes));
    return true;
}

bool CIpcCommand::GetPayloadData(std::wstring& text) const {
    const size_t units = m_data.size / sizeof(wchar_t);   // an odd last byte is not read
    if (units == 0) text.clear();
    else text.assign(reinterpret_cast<const wchar_t*>(m_data.data), units);
    QVLOG(QVLOG_TRACE, L"CIpcCommand::GetPayloadData: %d bytes of payload data copied.",
          static_cast<int>(text.size() * sizeof(wchar_t)));
    return true;
}

bool CIpcCommand::Serialize(BYTE* buffer, uint32_t& capacity) const {
    const uint32_t needed = HEADER_SIZE + m_data.size;
    if (!buffer || capacity < needed) {
        capacity = needed;
        return false;
    }
    std::memcpy(buffer, this, HEADER_SIZE);
    // This process's payload address means nothing to the reader.
    const uint32_t noReference = 0;
    std::memcpy(buffer + PAYLOAD_REFERENCE_OFFSET, &noReference, sizeof(noReference));
    if (m_data.size) std::memcpy(buffer + HEADER_SIZE, m_data.data, m_data.size);
    return true;
}

bool CIpcCommand::Deserialize(const BYTE* buffer, uint32_t length) {
    ReleasePayload();
    std::memcpy(static_cast<void*>(this), buffer, HEADER_SIZE);
    m_data.data = nullptr;   // the writer's address, not ours
    if (m_headerSize != HEADER_SIZE) {
        ClearHeader();
        QVLOG(QVLOG_ERROR, L"CIpcCommand::Deserialize: Integrity check failed.");
        return false;
    }
    const uint32_t received = length - HEADER_SIZE;
    if (m_data.size != received) {
        QVLOG(QVLOG_ERROR, L"CIpcCommand::Deserialize: Data size mismatch (header: %d, data: %d)",
              static_cast<int>(m_data.size), static_cast<int>(received));
        ClearHeader();
        return false;
    }
    BYTE* block = new (std::nothrow) BYTE[received];
    if (!block) {
        m_data.size = 0;
        QVLOG(QVLOG_ERROR, L"CIpcCommand::Deserialize: Out of memory.");
        return false;
    }
    std::memcpy(block, buffer + HEADER_SIZE, received);
    m_data.data = block;
    return true;
}

bool CIpcCommand::GetReturnPipeName(std::wstring& name) const {
    wchar_t buffer[64];
    int written = _snwprintf_s(buffer, _countof(buffer), _TRUNCATE, IPC_RETURN_PIPE_FORMAT,
                               m_processId, m_threadId, m_sequence);
    if (written < 0) return false;
    name.assign(buffer, written);
    return true;
}
