#include "IpcCommand.h"
#include "IpcDefs.h"
#include "QvLog.h"

#include <cstring>
#include <new>

namespace {
// Shared by every thread that makes records; the first record carries 1.
volatile LONG s_sequence = 0;

// Where each header field lies on the wire; every field is a little-endian
// 32-bit word, the return value two of them.
enum WireOffset : uint32_t {
    WIRE_HEADER_SIZE = 0,
    WIRE_COMMAND_TYPE = 4,
    WIRE_STATUS = 8,
    WIRE_PROCESS_ID = 12,
    WIRE_THREAD_ID = 16,
    WIRE_SEQUENCE = 20,
    WIRE_CLASS_ID = 24,
    WIRE_MESSAGE_ID = 28,
    WIRE_PAYLOAD_SIZE = 32,
    WIRE_PAYLOAD_REFERENCE = 36,
    WIRE_RESERVED = 40,
    WIRE_PADDING = 44,
    WIRE_RETURN_LOW = 48,
    WIRE_RETURN_HIGH = 52,
};

void PutWord(BYTE* header, WireOffset offset, uint32_t value) {
    for (int i = 0; i < 4; ++i) header[offset + i] = static_cast<BYTE>(value >> (8 * i));
}

uint32_t GetWord(const BYTE* header, WireOffset offset) {
    uint32_t value = 0;
    for (int i = 0; i < 4; ++i) value |= static_cast<uint32_t>(header[offset + i]) << (8 * i);
    return value;
}
} // namespace

CIpcCommand::CIpcCommand()
    : m_headerSize(HEADER_SIZE), m_commandType(0), m_status(0),
      m_processId(::GetCurrentProcessId()), m_threadId(::GetCurrentThreadId()),
      m_sequence(static_cast<uint32_t>(::InterlockedIncrement(&s_sequence))),
      m_ipcInfo(), m_data(), m_retInfo() {}

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
    m_headerSize = m_commandType = m_status = m_processId = m_threadId = m_sequence = 0;
    m_ipcInfo = IPCST_IPCINFO();
    m_data = IPCST_DATA();
    m_retInfo = IPCST_RETINFO();
}

void CIpcCommand::WriteHeader(BYTE* header) const {
    PutWord(header, WIRE_HEADER_SIZE, m_headerSize);
    PutWord(header, WIRE_COMMAND_TYPE, m_commandType);
    PutWord(header, WIRE_STATUS, m_status);
    PutWord(header, WIRE_PROCESS_ID, m_processId);
    PutWord(header, WIRE_THREAD_ID, m_threadId);
    PutWord(header, WIRE_SEQUENCE, m_sequence);
    PutWord(header, WIRE_CLASS_ID, m_ipcInfo.classId);
    PutWord(header, WIRE_MESSAGE_ID, m_ipcInfo.messageId);
    PutWord(header, WIRE_PAYLOAD_SIZE, m_data.size);
    PutWord(header, WIRE_PAYLOAD_REFERENCE, 0);   // our payload's address means nothing to the reader
    PutWord(header, WIRE_RESERVED, m_data.reserved);
    PutWord(header, WIRE_PADDING, 0);
    // A result code is 32 bits; the high half is never sent.
    PutWord(header, WIRE_RETURN_LOW, static_cast<uint32_t>(m_retInfo.value));
    PutWord(header, WIRE_RETURN_HIGH, 0);
}

void CIpcCommand::ReadHeader(const BYTE* header) {
    m_headerSize = GetWord(header, WIRE_HEADER_SIZE);
    m_commandType = GetWord(header, WIRE_COMMAND_TYPE);
    m_status = GetWord(header, WIRE_STATUS);
    m_processId = GetWord(header, WIRE_PROCESS_ID);
    m_threadId = GetWord(header, WIRE_THREAD_ID);
    m_sequence = GetWord(header, WIRE_SEQUENCE);
    m_ipcInfo.classId = GetWord(header, WIRE_CLASS_ID);
    m_ipcInfo.messageId = GetWord(header, WIRE_MESSAGE_ID);
    m_data.size = GetWord(header, WIRE_PAYLOAD_SIZE);
    m_data.data = nullptr;   // the writer's reference, not ours
    m_data.reserved = GetWord(header, WIRE_RESERVED);
    m_retInfo.value = static_cast<uint64_t>(GetWord(header, WIRE_RETURN_HIGH)) << 32 |
                      GetWord(header, WIRE_RETURN_LOW);
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
    WriteHeader(buffer);
    if (m_data.size) std::memcpy(buffer + HEADER_SIZE, m_data.data, m_data.size);
    return true;
}

std::vector<BYTE> CIpcCommand::Serialized() const {
    std::vector<BYTE> bytes(GetSerializedSize());
    uint32_t capacity = static_cast<uint32_t>(bytes.size());
    if (!Serialize(bytes.data(), capacity)) bytes.clear();
    return bytes;
}

bool CIpcCommand::Deserialize(const BYTE* buffer, uint32_t length) {
    ReleasePayload();
    ReadHeader(buffer);
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
