#include "LogSession.h"

namespace QvDbg {

std::string ToUtf8(const wchar_t* text, size_t length) {
    if (length == 0) return std::string();
    int size = ::WideCharToMultiByte(CP_UTF8, 0, text, static_cast<int>(length), nullptr, 0,
                                     nullptr, nullptr);
    if (size <= 0) return std::string();
    std::string bytes(size, '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, text, static_cast<int>(length), &bytes[0], size, nullptr,
                          nullptr);
    return bytes;
}

DWORD CLogSession::Create(const QvDbgConfig& config, std::unique_ptr<CLogSession>& session) {
    std::unique_ptr<CLogSession> made(new CLogSession());
    made->m_folder = ResolveFolder(FieldText(config.logFolder));
    if (made->m_folder.empty()) return ERROR_BAD_PATHNAME;
    // Found out now rather than line by line: a folder that cannot be made
    // fails the session.
    DWORD error = CreateFolderTree(made->m_folder);
    if (error != 0) return error;
    made->m_parts = NameParts(config, ::GetCurrentProcessId());
    made->m_robust = config.robust != 0;
    made->m_debugger = config.debugger != 0;
    session = std::move(made);
    return 0;
}

DWORD CLogSession::Trace(const SYSTEMTIME& localTime, const wchar_t* text) {
    if (m_debugger) ::OutputDebugStringW(text);
    std::wstring fileName = BuildFileName(m_parts, localTime);
    if (!m_file.IsOpen() || m_file.FileName() != fileName) {
        DWORD error = m_file.Open(m_folder, fileName);
        if (error != 0) return error;
    }
    size_t length = wcslen(text);
    std::string bytes = ToUtf8(text, length);
    if (bytes.empty() && length != 0) return ERROR_NO_UNICODE_TRANSLATION;
    DWORD error = m_file.Append(bytes, m_robust);
    // The next line opens the file afresh: whatever broke this handle may be
    // gone by then.
    if (error != 0) m_file.Close();
    return error;
}

} // namespace QvDbg
