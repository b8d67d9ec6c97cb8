#pragma once
// The service's journal: one JSON object per line for every message it
// received and every listener that joined, so that people and tests can see
// what reached it:
//   {"body":null,"class":13,"message":"0x1f000005","mode":"send"}
//   {"body":null,"class":2,"message":"0x00000000","mode":"listen"}
#include <cstdint>
#include <string>
#include "JsonBody.h"
#include "Synchronize.h"

class CJournal {
public:
    explicit CJournal(const std::wstring& path) : m_path(path) {}
    void Record(const char* mode, uint32_t classId, uint32_t messageId, const JsonValue& body) noexcept;
    const std::wstring& Path() const { return m_path; }
private:
    void Write(const char* mode, uint32_t classId, uint32_t messageId, const JsonValue& body);
    std::wstring m_path;
    QvCommon::Synchronize::CriticalSection m_lock;
};
