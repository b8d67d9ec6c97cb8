#include "Journal.h"
#include "QvHandle.h"
#include "QvLog.h"

#include <cstdio>

void CJournal::Record(const char* mode, uint32_t classId, uint32_t messageId, const JsonValue& body) noexcept {
    // A line that cannot be written (out of memory) must not fail the message.
    try {
        Write(mode, classId, messageId, body);
    } catch (...) {
        QVLOG(QVLOG_ERROR, L"CJournal::Record: Cannot record message 0x%08x.", messageId);
    }
}

void CJournal::Write(const char* mode, uint32_t classId, uint32_t messageId, const JsonValue& body) {
    char id[16];
    std::snprintf(id, sizeof(id), "0x%08x", messageId);
    JsonValue entry = JsonValue::object();
    entry["mode"] = mode;
    entry["class"] = classId;
    entry["message"] = id;
    entry["body"] = body;
    const std::string line = KelJson::ToUtf8(KelJson::Write(entry)) + "\n";

    // Opened for each line, so that the journal can be read, moved or deleted
    // while the service runs.
    QvCommon::Synchronize::AutoLock lock(m_lock);
    QvCommon::UniqueHandle file(::CreateFileW(m_path.c_str(), FILE_APPEND_DATA,
                                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                              nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    DWORD written = 0;
    if (file) ::WriteFile(file.get(), line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
}
