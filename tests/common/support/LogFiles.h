#pragma once
// What the log tests share beyond TestSupport.h: reading the log files back
// and taking a log line apart.
#include <windows.h>
#include <string>
#include <vector>

namespace KelTest {

// folder + name, with one "\" between them.
std::wstring Join(const std::wstring& folder, const std::wstring& name);

// Names of the files of a folder, sorted.
std::vector<std::wstring> FileNames(const std::wstring& folder);

// The raw bytes of a file, read while writers may still hold it open.
std::string ReadBytes(const std::wstring& path);
std::wstring FromUtf8(const std::string& bytes);

// Every file of the folder in name order (one file per day), as text.
std::wstring ReadLogs(const std::wstring& folder);

// Splits text into lines at CR LF. complete is false when the text does not
// end in CR LF or a lone CR or LF stands inside it.
std::vector<std::wstring> SplitLines(const std::wstring& text, bool* complete = nullptr);

// One line of the debug log:
// "dd/mm/yyyy hh:mm:ss.mmm pppp:tttt mmm <Module> message - File.cpp(123)".
struct LogLine {
    int day = 0, month = 0, year = 0, hour = 0, minute = 0, second = 0, millisecond = 0;
    DWORD processId = 0;
    DWORD threadId = 0;
    std::wstring marker;
    std::wstring module;
    std::wstring message;
    std::wstring file;
    unsigned long line = 0;
};
bool ParseLogLine(const std::wstring& text, LogLine& parsed);

std::wstring TodayStamp();   // "yyyy-mm-dd" of the local time

} // namespace KelTest
