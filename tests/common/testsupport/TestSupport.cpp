#include "TestSupport.h"
#include "DebugLog.h"
#include "QvLog.h"

#include <atomic>
#include <fstream>
#include <sstream>

namespace KelTest {

std::wstring UniqueName(const std::wstring& base) {
    static std::atomic<unsigned> s_counter{0};
    return base + L"_" + std::to_wstring(::GetCurrentProcessId()) + L"_" +
           std::to_wstring(::GetTickCount()) + L"_" + std::to_wstring(++s_counter);
}

std::string Narrow(const std::wstring& text) {
    int length = ::WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()),
                                       nullptr, 0, nullptr, nullptr);
    std::string narrow(length, '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), &narrow[0],
                          length, nullptr, nullptr);
    return narrow;
}

std::wstring Widen(const std::string& text) {
    int length = ::MultiByteToWideChar(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring wide(length, L'\0');
    ::MultiByteToWideChar(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), &wide[0], length);
    return wide;
}

TempFolder::TempFolder() {
    wchar_t temp[MAX_PATH];
    ::GetTempPathW(MAX_PATH, temp);
    m_path = std::wstring(temp) + UniqueName(L"kel") + L"\\";
    ::CreateDirectoryW(m_path.c_str(), nullptr);
}

namespace {
void RemoveTree(const std::wstring& folder) {
    WIN32_FIND_DATAW data;
    QvCommon::UniqueFind found(::FindFirstFileW((folder + L"*").c_str(), &data));
    if (found) {
        do {
            std::wstring name = data.cFileName;
            if (name == L"." || name == L"..") continue;
            std::wstring path = folder + name;
            if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) RemoveTree(path + L"\\");
            else ::DeleteFileW(path.c_str());
        } while (::FindNextFileW(found.get(), &data));
    }
    found.reset();
    ::RemoveDirectoryW(folder.c_str());
}
} // namespace

TempFolder::~TempFolder() { RemoveTree(m_path); }

TestRegistryKey::TestRegistryKey() : m_path(L"Software\\KelConsoleTests\\" + UniqueName(L"key")) {}

TestRegistryKey::~TestRegistryKey() {
    // RegDeleteTree has no view flag: open the parent in the 64-bit view.
    HKEY parent = nullptr;
    if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"Software\\KelConsoleTests", 0,
                        KEY_ALL_ACCESS | KEY_WOW64_64KEY, &parent) == ERROR_SUCCESS) {
        std::wstring leaf = m_path.substr(m_path.rfind(L'\\') + 1);
        ::RegDeleteTreeW(parent, leaf.c_str());
        ::RegCloseKey(parent);
    }
}

void TestRegistryKey::SetDword(const std::wstring& subkey, const std::wstring& name, DWORD value) {
    QvCommon::UniqueRegKey key;
    std::wstring path = subkey.empty() ? m_path : m_path + L"\\" + subkey;
    ::RegCreateKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, 0, KEY_SET_VALUE | KEY_WOW64_64KEY,
                      nullptr, key.put(), nullptr);
    ::RegSetValueExW(key.get(), name.c_str(), 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value),
                     sizeof(value));
}

void TestRegistryKey::SetString(const std::wstring& subkey, const std::wstring& name,
                                const std::wstring& value, DWORD type) {
    QvCommon::UniqueRegKey key;
    std::wstring path = subkey.empty() ? m_path : m_path + L"\\" + subkey;
    ::RegCreateKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, 0, KEY_SET_VALUE | KEY_WOW64_64KEY,
                      nullptr, key.put(), nullptr);
    ::RegSetValueExW(key.get(), name.c_str(), 0, type, reinterpret_cast<const BYTE*>(value.c_str()),
                     static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
}

CapturedLog::CapturedLog(DWORD level) : m_ownFolder(new TempFolder), m_reader(m_ownFolder->Path()) {
    Start(level);
}

CapturedLog::CapturedLog(const std::wstring& folder, DWORD level) : m_reader(folder) { Start(level); }

void CapturedLog::Start(DWORD level) {
    // The log reads its values in this order and stops at the first one
    // missing, so every value up to the folder must be there.
    const wchar_t* session = L"InteractiveSession";
    m_key.SetDword(session, L"Enable", 1);
    m_key.SetDword(session, L"Level", level);
    m_key.SetDword(session, L"LogProcess", 0);
    m_key.SetDword(session, L"LogUnitType", 0);
    m_key.SetString(session, L"LogFolder", m_reader.Path());
    m_key.SetString(session, L"LogPrefix", L"KelTest");
    QvCommon::Storage::Key location(QVSTORAGE_REGISTRY, HKEY_LOCAL_MACHINE, m_key.Path());
    m_initialized = QvCommon::DebugLog::Instance().Initialize(L"KelTest", location, L".\\",
                                                              QVLOG_SESSION_DETECT);
}

CapturedLog::~CapturedLog() { QvCommon::DebugLog::Instance().Uninitialize(); }

std::string LogFolder::Text() const {
    std::string text;
    WIN32_FIND_DATAW data;
    QvCommon::UniqueFind found(::FindFirstFileW((m_path + L"*").c_str(), &data));
    if (!found) return text;
    do {
        if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) continue;
        // Shared read: the tracing library keeps appending while we read.
        QvCommon::UniqueHandle file(::CreateFileW((m_path + data.cFileName).c_str(), GENERIC_READ,
                                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                                  nullptr, OPEN_EXISTING, 0, nullptr));
        if (!file) continue;
        char chunk[4096];
        DWORD read = 0;
        while (::ReadFile(file.get(), chunk, sizeof(chunk), &read, nullptr) && read > 0)
            text.append(chunk, read);
    } while (::FindNextFileW(found.get(), &data));
    return text;
}

size_t LogFolder::Count(const std::string& needle) const {
    const std::string text = Text();
    size_t count = 0;
    for (size_t at = text.find(needle); at != std::string::npos; at = text.find(needle, at + needle.size()))
        ++count;
    return count;
}

bool LogFolder::WaitFor(const std::string& needle, DWORD timeoutMs, size_t count) const {
    const DWORD start = ::GetTickCount();
    for (;;) {
        if (Count(needle) >= count) return true;
        if (::GetTickCount() - start >= timeoutMs) return false;
        ::Sleep(20);
    }
}

ChildProcess::ChildProcess(const std::wstring& program, const std::wstring& arguments, OutputMode output) {
    wchar_t self[MAX_PATH];
    ::GetModuleFileNameW(nullptr, self, MAX_PATH);
    std::wstring folder(self);
    folder.resize(folder.rfind(L'\\') + 1);
    std::wstring commandLine = L"\"" + folder + program + L"\" " + arguments;
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    QvCommon::UniqueHandle outputWrite;
    if (output == OutputMode::Capture) {
        SECURITY_ATTRIBUTES inherited = {sizeof(inherited), nullptr, TRUE};
        ::CreatePipe(m_outputRead.put(), outputWrite.put(), &inherited, 0);
        ::SetHandleInformation(m_outputRead.get(), HANDLE_FLAG_INHERIT, 0);
        startup.dwFlags = STARTF_USESTDHANDLES;
        startup.hStdInput = ::GetStdHandle(STD_INPUT_HANDLE);
        startup.hStdOutput = outputWrite.get();
        startup.hStdError = outputWrite.get();
    }
    PROCESS_INFORMATION info = {};
    if (::CreateProcessW(nullptr, &commandLine[0], nullptr, nullptr, output == OutputMode::Capture, 0, nullptr,
                         folder.c_str(), &startup, &info)) {
        m_process.reset(info.hProcess);
        ::CloseHandle(info.hThread);
    }
    // Only the child holds the write end now, so the reader ends with it.
    outputWrite.reset();
    if (m_outputRead) m_reader = std::thread([this] { ReadOutput(); });
}

void ChildProcess::ReadOutput() {
    char chunk[4096];
    DWORD read = 0;
    while (::ReadFile(m_outputRead.get(), chunk, sizeof(chunk), &read, nullptr) && read > 0) {
        std::lock_guard<std::mutex> guard(m_outputLock);
        m_output.append(chunk, read);
    }
}

ChildProcess::~ChildProcess() {
    if (m_process && ::WaitForSingleObject(m_process.get(), 0) == WAIT_TIMEOUT)
        ::TerminateProcess(m_process.get(), 1);
    if (m_reader.joinable()) m_reader.join();
}

DWORD ChildProcess::Wait(DWORD timeoutMs) {
    if (::WaitForSingleObject(m_process.get(), timeoutMs) != WAIT_OBJECT_0) return STILL_ACTIVE;
    if (m_reader.joinable()) m_reader.join();
    DWORD code = 0;
    ::GetExitCodeProcess(m_process.get(), &code);
    return code;
}

std::string ChildProcess::Output() const {
    std::lock_guard<std::mutex> guard(m_outputLock);
    return m_output;
}

bool WaitForNamedEvent(const std::wstring& name, DWORD timeoutMs) {
    QvCommon::UniqueHandle event(::CreateEventW(nullptr, TRUE, FALSE, (L"Local\\" + name).c_str()));
    return event && ::WaitForSingleObject(event.get(), timeoutMs) == WAIT_OBJECT_0;
}

} // namespace KelTest
