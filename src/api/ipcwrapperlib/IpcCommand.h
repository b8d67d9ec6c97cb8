#pragma once
// The one record that crosses the pipes: a 56-byte header followed on the wire
// by the payload bytes. The header is written and read field by field at fixed
// offsets, little-endian, so that a 32-bit and a 64-bit process read each
// other's records; in memory the record is free to hold real pointers.
#include <windows.h>
#include <cstdint>
#include <string>
#include <vector>

struct IPCST_IPCINFO {
    uint32_t classId;
    uint32_t messageId;
};

struct IPCST_DATA {
    uint32_t size;       // payload bytes
    BYTE* data;          // this process's copy of the payload; 0 on the wire
    uint32_t reserved;
};

struct IPCST_RETINFO {
    uint64_t value;      // a result's code in the low half; inside a receiver, its peer
};

class CIpcCommand {
public:
    CIpcCommand();
    ~CIpcCommand();
    CIpcCommand(const CIpcCommand&) = delete;
    CIpcCommand& operator=(const CIpcCommand&) = delete;

    void Reset();
    void SetIpcInfo(const IPCST_IPCINFO& info) { m_ipcInfo = info; }
    void SetReturnInfo(const IPCST_RETINFO& info) { m_retInfo = info; }
    // Sets the low half only.
    void SetReturnInfo(uint32_t low);
    bool PutPayloadData(const std::wstring& text);
    bool GetPayloadData(std::wstring& text) const;
    // Fails when capacity is too small, storing the size needed into it.
    bool Serialize(BYTE* buffer, uint32_t& capacity) const;
    // The record as it goes on the wire; empty when it cannot be written.
    std::vector<BYTE> Serialized() const;
    // The caller guarantees length >= 56.
    bool Deserialize(const BYTE* buffer, uint32_t length);
    bool IsValid() const { return m_headerSize == HEADER_SIZE; }
    bool GetReturnPipeName(std::wstring& name) const;

    uint32_t GetCommandType() const { return m_commandType; }
    void SetCommandType(uint32_t type) { m_commandType = type; }
    uint32_t GetStatus() const { return m_status; }
    void SetStatus(uint32_t status) { m_status = status; }
    uint32_t GetProcessId() const { return m_processId; }
    uint32_t GetThreadId() const { return m_threadId; }
    uint32_t GetSequence() const { return m_sequence; }
    uint32_t GetClassId() const { return m_ipcInfo.classId; }
    uint32_t GetMessageId() const { return m_ipcInfo.messageId; }
    const IPCST_IPCINFO& GetIpcInfo() const { return m_ipcInfo; }
    uint32_t GetPayloadSize() const { return m_data.size; }
    const BYTE* GetPayload() const { return m_data.data; }
    bool HasPayload() const { return m_data.data != nullptr; }
    const IPCST_RETINFO& GetReturnInfo() const { return m_retInfo; }
    uint32_t GetReturnValue() const { return static_cast<uint32_t>(m_retInfo.value); }
    uint32_t GetSerializedSize() const { return m_headerSize + m_data.size; }

    static constexpr uint32_t HEADER_SIZE = 56;
    // Width of IPCST_DATA on the wire (size, reference, reserved word).
    static constexpr uint32_t DATA_WIRE_SIZE = 12;

private:
    void ReleasePayload();
    void ClearHeader();
    void WriteHeader(BYTE* header) const;
    void ReadHeader(const BYTE* header);

    // The header's fields, in wire order.
    uint32_t m_headerSize;
    uint32_t m_commandType;
    uint32_t m_status;
    uint32_t m_processId;
    uint32_t m_threadId;
    uint32_t m_sequence;
    IPCST_IPCINFO m_ipcInfo;
    IPCST_DATA m_data;
    IPCST_RETINFO m_retInfo;
};
