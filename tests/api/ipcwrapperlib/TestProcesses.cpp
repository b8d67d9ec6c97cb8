#include "TestProcesses.h"

#include <sstream>

namespace {

HANDLE NamedEvent(const std::wstring& name) {
    return ::CreateEventW(nullptr, TRUE, FALSE, (L"Local\\" + name).c_str());
}

// Both helpers end when their quit event is signalled.
DWORD QuitChild(HANDLE quit, std::unique_ptr<KelTest::ChildProcess>& process) {
    if (!process) return STILL_ACTIVE;
    ::SetEvent(quit);
    DWORD code = process->Wait(30000);
    process.reset();
    return code;
}

// A quoted argument; a trailing backslash is doubled so that it does not
// escape the closing quote.
std::wstring Quoted(const std::wstring& argument) {
    const bool trailing = !argument.empty() && argument.back() == L'\\';
    return L"\"" + argument + (trailing ? L"\\" : L"") + L"\"";
}

} // namespace

ServerProcess::ServerProcess(const std::wstring& pipe) : m_pipe(pipe), m_log(m_logFolder.Path()) {
    const std::wstring ready = KelTest::UniqueName(L"srvready");
    const std::wstring quit = KelTest::UniqueName(L"srvquit");
    QvCommon::UniqueHandle readyEvent(NamedEvent(ready));
    m_quit.reset(NamedEvent(quit));
    m_process.reset(new KelTest::ChildProcess(
        L"ipc_server_helper.exe", m_pipe + L" " + ready + L" " + quit + L" " + Quoted(m_logFolder.Path())));
    m_ready = m_process->Started() &&
              ::WaitForSingleObject(readyEvent.get(), PROCESS_START_MS) == WAIT_OBJECT_0 &&
              ::WaitForSingleObject(m_process->Handle(), 0) == WAIT_TIMEOUT;
    m_control.Initialize(m_pipe);
}

ServerProcess::~ServerProcess() {
    m_control.Uninitialize();
    Quit();
}

DWORD ServerProcess::Quit() { return QuitChild(m_quit.get(), m_process); }

uint32_t ServerProcess::Broadcast(uint32_t messageId, const JsonValue& body) {
    JsonValue control{{"messageId", messageId}, {"body", body}};
    return m_control.SendMessageToProvider(TEST_CONTROL_CLASS, TEST_CONTROL_BROADCAST, control);
}

JsonValue ServerProcess::State() {
    JsonValue state;
    if (m_control.SendMessageToProvider(TEST_CONTROL_CLASS, TEST_CONTROL_STATE, state) != 0) return JsonValue();
    return state;
}

int ServerProcess::ListenerCount(uint32_t classId) {
    return static_cast<int>(KelJson::GetInt(State()["listeners"], std::to_string(classId).c_str()));
}

bool ServerProcess::WaitForListeners(uint32_t classId, int count, DWORD timeoutMs) {
    const DWORD start = ::GetTickCount();
    while (ListenerCount(classId) != count) {
        if (::GetTickCount() - start >= timeoutMs) return false;
        ::Sleep(20);
    }
    return true;
}

ListenerProcess::ListenerProcess(const std::wstring& serverPipe, const std::wstring& classes)
    : m_log(m_logFolder.Path()), m_resultFile(m_folder.Path() + L"calls.txt") {
    const std::wstring ready = KelTest::UniqueName(L"lsnready");
    const std::wstring quit = KelTest::UniqueName(L"lsnquit");
    QvCommon::UniqueHandle readyEvent(NamedEvent(ready));
    m_quit.reset(NamedEvent(quit));
    m_process.reset(new KelTest::ChildProcess(
        L"ipc_client_helper.exe", L"listen " + serverPipe + L" " + classes + L" " + ready + L" " + quit +
                                      L" " + Quoted(m_resultFile) + L" " + Quoted(m_logFolder.Path())));
    m_ready = m_process->Started() &&
              ::WaitForSingleObject(readyEvent.get(), PROCESS_START_MS) == WAIT_OBJECT_0 &&
              ::WaitForSingleObject(m_process->Handle(), 0) == WAIT_TIMEOUT;
}

ListenerProcess::~ListenerProcess() { Quit(); }

DWORD ListenerProcess::Quit() { return QuitChild(m_quit.get(), m_process); }

std::vector<std::string> ListenerProcess::Lines() const {
    std::string text;
    QvCommon::UniqueHandle file(::CreateFileW(m_resultFile.c_str(), GENERIC_READ,
                                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                              OPEN_EXISTING, 0, nullptr));
    char chunk[4096];
    DWORD read = 0;
    while (file && ::ReadFile(file.get(), chunk, sizeof(chunk), &read, nullptr) && read > 0) text.append(chunk, read);
    std::vector<std::string> lines;
    std::istringstream stream(text);
    for (std::string line; std::getline(stream, line);) lines.push_back(line);
    return lines;
}

std::string ListenerProcess::NotifyPipe() const {
    for (const std::string& line : Lines())
        if (line.compare(0, 5, "pipe ") == 0) return line.substr(5);
    return std::string();
}

std::vector<std::string> ListenerProcess::Calls() const {
    std::vector<std::string> calls;
    for (const std::string& line : Lines())
        if (line.compare(0, 5, "pipe ") != 0) calls.push_back(line);
    return calls;
}

bool ListenerProcess::WaitForCalls(size_t count, DWORD timeoutMs) const {
    const DWORD start = ::GetTickCount();
    while (Calls().size() < count) {
        if (::GetTickCount() - start >= timeoutMs) return false;
        ::Sleep(20);
    }
    return true;
}
