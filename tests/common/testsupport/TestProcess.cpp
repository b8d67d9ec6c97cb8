#include "TestProcess.h"
#include "TestNames.h"

namespace KelTest {

ChildProcess::ChildProcess(const std::wstring& program, const std::wstring& arguments, const ChildOptions& options) {
    const std::wstring folder = options.programFolder.empty() ? ProgramFolder() : options.programFolder;
    const std::wstring working = options.workingFolder.empty() ? folder : options.workingFolder;
    std::wstring commandLine = L"\"" + folder + program + L"\" " + arguments;
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    QvCommon::UniqueHandle outputWrite;
    if (options.capture) {
        SECURITY_ATTRIBUTES inherited = {sizeof(inherited), nullptr, TRUE};
        ::CreatePipe(m_outputRead.put(), outputWrite.put(), &inherited, 0);
        ::SetHandleInformation(m_outputRead.get(), HANDLE_FLAG_INHERIT, 0);
        startup.dwFlags = STARTF_USESTDHANDLES;
        startup.hStdInput = ::GetStdHandle(STD_INPUT_HANDLE);
        startup.hStdOutput = outputWrite.get();
        startup.hStdError = outputWrite.get();
    }
    PROCESS_INFORMATION info = {};
    if (::CreateProcessW(nullptr, &commandLine[0], nullptr, nullptr, options.capture, 0, nullptr, working.c_str(),
                         &startup, &info)) {
        m_process.reset(info.hProcess);
        QvCommon::UniqueHandle thread(info.hThread);
        m_id = info.dwProcessId;
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
    if (Running()) ::TerminateProcess(m_process.get(), 1);
    if (m_reader.joinable()) m_reader.join();
}

DWORD ChildProcess::Wait(DWORD timeoutMs) {
    if (!Started() || ::WaitForSingleObject(m_process.get(), timeoutMs) != WAIT_OBJECT_0) return STILL_ACTIVE;
    if (m_reader.joinable()) m_reader.join();
    DWORD code = 0;
    ::GetExitCodeProcess(m_process.get(), &code);
    return code;
}

bool ChildProcess::WaitReady(const NamedEvent& ready, DWORD timeoutMs) const {
    if (!Started() || !ready.Valid()) return false;
    // A child that dies before it is ready ends the wait at once.
    HANDLE waits[] = {ready.Handle(), m_process.get()};
    return ::WaitForMultipleObjects(2, waits, FALSE, timeoutMs) == WAIT_OBJECT_0 && Running();
}

std::string ChildProcess::Output() const {
    std::lock_guard<std::mutex> guard(m_outputLock);
    return m_output;
}

} // namespace KelTest
