#pragma once
// One session of the tracing library: the settings of its configuration
// record and the file it is writing today.
#include <windows.h>
#include <memory>
#include <string>
#include "LogFile.h"
#include "LogFileName.h"
#include "QvDbgConfig.h"

namespace QvDbg {

class CLogSession {
public:
    // Resolves and creates the folder of the record. Returns 0 or the Windows
    // error; the session is only made on success.
    static DWORD Create(const QvDbgConfig& config, std::unique_ptr<CLogSession>& session);

    // Appends the text, as UTF-8, to the file of the day of localTime; a new
    // day opens a new file. Returns 0 or the Windows error.
    DWORD Trace(const SYSTEMTIME& localTime, const wchar_t* text);

    const std::wstring& Folder() const { return m_folder; }

private:
    CLogSession() = default;

    std::wstring m_folder;
    FileNameParts m_parts;
    bool m_robust = false;     // flush every line to the disk
    bool m_debugger = false;   // also hand every text to the debugger
    CLogFile m_file;
};

// UTF-16 to UTF-8; unpaired surrogates become U+FFFD.
std::string ToUtf8(const wchar_t* text, size_t length);

} // namespace QvDbg
