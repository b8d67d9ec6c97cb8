// kelctl: sends, posts, listens to and broadcasts provider messages on the
// session pipe (the agent) or the system pipe (the product's service).
#include <windows.h>
#include <cstdio>
#include <cwchar>
#include <cwctype>
#include <string>
#include <vector>

#include "IpcClient.h"
#include "IpcDefs.h"
#include "ProcessEntry.h"
#include "ProviderMessages.h"
#include "QvHandle.h"

namespace {

constexpr int EXIT_OK = 0;
constexpr int EXIT_PROVIDER_FAILED = 1;
constexpr int EXIT_USAGE = 2;
constexpr int EXIT_NO_PIPE = 3;
constexpr int EXIT_TRANSPORT_FAILED = 4;
constexpr int EXIT_TOO_FEW = 5;
constexpr int EXIT_INTERNAL = 6;
constexpr int WRONG_ARGUMENTS = -1;   // not an exit code: the usage text follows

// How often a listener looks whether its server still serves.
constexpr DWORD LISTEN_POLL_MS = 500;

void Usage() {
    std::fwprintf(stderr,
        L"usage:\n"
        L"  kelctl send      [PIPE] CLASS MESSAGE [BODY]   send and print the result code and reply\n"
        L"  kelctl post      [PIPE] CLASS MESSAGE [BODY]   post, without waiting for the handling\n"
        L"  kelctl listen    [PIPE] LISTENER-CLASS [--count N] [--timeout SECONDS]\n"
        L"                                                 print each notification as it arrives, until\n"
        L"                                                 N arrived, the time is up or the server goes\n"
        L"  kelctl broadcast [PIPE] MESSAGE [BODY]         have the product's service broadcast\n"
        L"  kelctl stop-service [PIPE]                     have the product's service stop\n"
        L"PIPE: --session (" IPC_SESSION_PIPE L"), --system (" IPC_SYSTEM_PIPE L") or --pipe NAME;\n"
        L"      by default the pipe that serves the message's family (listener class: its high byte).\n"
        L"Numbers are decimal (010 is ten) or 0x hexadecimal; BODY is JSON (default null).\n"
        L"Exit codes: 0 done, 1 the provider answered a failure, 2 bad usage, 3 nobody serves the pipe\n"
        L"  (or it went away while listening), 4 the transport failed (0x1002xxxx: message or answer\n"
        L"  lost, time-out), 5 fewer than N notifications arrived before the time-out,\n"
        L"  6 kelctl itself failed.\n");
}

int Fail(int code, const wchar_t* format, const std::wstring& detail) {
    std::fwprintf(stderr, L"kelctl: ");
    std::fwprintf(stderr, format, detail.c_str());
    std::fwprintf(stderr, L"\n");
    return code;
}

// Decimal, or hexadecimal after "0x"; nothing else (no sign, no spaces, no octal).
bool ParseNumber(const std::wstring& text, uint32_t& value) {
    const bool hex = text.size() > 2 && text[0] == L'0' && (text[1] == L'x' || text[1] == L'X');
    const std::wstring digits = hex ? text.substr(2) : text;
    if (digits.empty() || digits.size() > 10) return false;
    for (wchar_t c : digits)
        if (hex ? !std::iswxdigit(c) : !std::iswdigit(c)) return false;
    const unsigned long long parsed = std::wcstoull(digits.c_str(), nullptr, hex ? 16 : 10);
    if (parsed > 0xFFFFFFFFull) return false;
    value = static_cast<uint32_t>(parsed);
    return true;
}

bool PipeExists(const std::wstring& pipe) {
    std::wstring full = L"\\\\.\\pipe\\" + pipe;
    return ::WaitNamedPipeW(full.c_str(), 1) || ::GetLastError() != ERROR_FILE_NOT_FOUND;
}

int NobodyServes(const std::wstring& pipe) { return Fail(EXIT_NO_PIPE, L"nobody serves \\\\.\\pipe\\%ls", pipe); }

struct Command {
    std::wstring verb;
    std::wstring pipe;                    // empty: by family
    std::vector<std::wstring> arguments;  // the rest, options taken out
    uint32_t count = 0;                   // listen: stop after this many (0: never)
    uint32_t timeoutSeconds = 0;          // listen: stop after this long (0: never)
};

bool ParseCommand(int argc, wchar_t** argv, Command& command, std::wstring& error) {
    if (argc < 2) return false;
    command.verb = argv[1];
    for (int i = 2; i < argc; ++i) {
        std::wstring argument = argv[i];
        if (argument == L"--session") command.pipe = IPC_SESSION_PIPE;
        else if (argument == L"--system") command.pipe = IPC_SYSTEM_PIPE;
        else if (argument == L"--pipe" || argument == L"--count" || argument == L"--timeout") {
            if (i + 1 >= argc) { error = argument + L" needs a value"; return false; }
            std::wstring value = argv[++i];
            if (argument == L"--pipe") command.pipe = value;
            else if (!ParseNumber(value, argument == L"--count" ? command.count : command.timeoutSeconds)) {
                error = L"not a number: " + value;
                return false;
            }
        } else if (argument.compare(0, 2, L"--") == 0) {
            error = L"unknown option '" + argument + L"'";
            return false;
        } else {
            command.arguments.push_back(argument);
        }
    }
    return true;
}

std::wstring PipeFor(const Command& command, uint32_t family) {
    if (!command.pipe.empty()) return command.pipe;
    return IsSessionFamily(family) ? IPC_SESSION_PIPE : IPC_SYSTEM_PIPE;
}

// CLASS MESSAGE [BODY], or MESSAGE [BODY] when withClass is false.
int ParseMessage(const Command& command, bool withClass, uint32_t& classId, uint32_t& messageId, JsonValue& body) {
    const size_t numbers = withClass ? 2 : 1;
    if (command.arguments.size() < numbers || command.arguments.size() > numbers + 1) return WRONG_ARGUMENTS;
    if (withClass && !ParseNumber(command.arguments[0], classId))
        return Fail(EXIT_USAGE, L"not a number: %ls", command.arguments[0]);
    if (!ParseNumber(command.arguments[numbers - 1], messageId))
        return Fail(EXIT_USAGE, L"not a number: %ls", command.arguments[numbers - 1]);
    body = JsonValue();
    if (command.arguments.size() > numbers && !KelJson::Parse(command.arguments[numbers], body))
        return Fail(EXIT_USAGE, L"not JSON: %ls", command.arguments[numbers]);
    return EXIT_OK;
}

int Exchange(const std::wstring& pipe, bool send, uint32_t classId, uint32_t messageId, JsonValue& body) {
    if (!PipeExists(pipe)) return NobodyServes(pipe);
    CIpcClient client;
    if (!client.Initialize(pipe)) return Fail(EXIT_NO_PIPE, L"cannot reach \\\\.\\pipe\\%ls", pipe);
    uint32_t result = send ? client.SendMessageToProvider(classId, messageId, body)
                           : client.PostMessageToProvider(classId, messageId, body);
    std::wprintf(L"result 0x%08x\n", result);
    if (send && !IsTransportFailure(result)) std::wprintf(L"%ls\n", KelJson::Write(body).c_str());
    std::fflush(stdout);
    client.Uninitialize();   // a post leaves before the process ends
    // Seen here, a transport code also means that the server could not reach
    // the place it passes the message on to.
    if (IsTransportFailure(result))
        return Fail(EXIT_TRANSPORT_FAILED, L"the transport failed: %ls",
                    result == IPC_RESULT_QUERY_TIMED_OUT ? L"no answer in time" : L"message or answer lost");
    return IsProviderFailure(result) ? EXIT_PROVIDER_FAILED : EXIT_OK;
}

struct ListenState {
    HANDLE done;
    uint32_t wanted;
    volatile LONG received;
};

// Runs on the client's listener thread: nothing may leave it.
void OnNotification(void* context, uint32_t messageId, JsonValue& body) noexcept {
    auto* state = static_cast<ListenState*>(context);
    if (messageId == 0) return;   // our registration ended
    try {
        std::wprintf(L"notify 0x%08x %ls\n", messageId, KelJson::Write(body).c_str());
    } catch (const std::exception& e) {
        std::wprintf(L"notify 0x%08x (body not shown: %hs)\n", messageId, e.what());
    }
    std::fflush(stdout);
    LONG count = ::InterlockedIncrement(&state->received);
    if (state->wanted != 0 && static_cast<uint32_t>(count) >= state->wanted) ::SetEvent(state->done);
}

HANDLE s_interrupted = nullptr;
BOOL WINAPI OnConsoleEvent(DWORD) {
    ::SetEvent(s_interrupted);
    return TRUE;
}

int Listen(const Command& command) {
    uint32_t listenerClass = 0;
    if (command.arguments.size() != 1) return WRONG_ARGUMENTS;
    if (!ParseNumber(command.arguments[0], listenerClass) || listenerClass > 0xFFFF)
        return Fail(EXIT_USAGE, L"not a listener class (0 to 0xffff): %ls", command.arguments[0]);
    const std::wstring pipe = PipeFor(command, listenerClass >> 8);
    if (!PipeExists(pipe)) return NobodyServes(pipe);

    QvCommon::UniqueHandle done(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
    s_interrupted = done.get();
    ::SetConsoleCtrlHandler(&OnConsoleEvent, TRUE);
    ListenState state{done.get(), command.count, 0};
    CIpcClient client;
    if (!client.Initialize(pipe)) return Fail(EXIT_NO_PIPE, L"cannot reach \\\\.\\pipe\\%ls", pipe);
    uint32_t result = client.AddMessageListener(listenerClass, &OnNotification, &state);
    if (IsProviderFailure(result)) {
        std::fwprintf(stderr, L"kelctl: cannot listen: 0x%08x\n", result);
        return IsTransportFailure(result) ? EXIT_TRANSPORT_FAILED : EXIT_PROVIDER_FAILED;
    }
    std::wprintf(L"listening to class 0x%04x on \\\\.\\pipe\\%ls\n", listenerClass, pipe.c_str());
    std::fflush(stdout);

    const ULONGLONG deadline = ::GetTickCount64() + command.timeoutSeconds * 1000ull;
    int code = EXIT_OK;
    while (::WaitForSingleObject(done.get(), LISTEN_POLL_MS) == WAIT_TIMEOUT) {
        if (!PipeExists(pipe)) {
            code = Fail(EXIT_NO_PIPE, L"\\\\.\\pipe\\%ls went away", pipe);
            break;
        }
        if (command.timeoutSeconds != 0 && ::GetTickCount64() >= deadline) {
            if (command.count != 0) code = Fail(EXIT_TOO_FEW, L"%ls", L"fewer notifications than --count in time");
            break;
        }
    }
    client.Uninitialize();
    return code;
}

int Run(int argc, wchar_t** argv) {
    Command command;
    std::wstring error;
    if (!ParseCommand(argc, argv, command, error)) {
        if (!error.empty()) std::fwprintf(stderr, L"kelctl: %ls\n", error.c_str());
        Usage();
        return EXIT_USAGE;
    }
    uint32_t classId = 0, messageId = 0;
    JsonValue body;
    int parsed = EXIT_OK;
    if (command.verb == L"send" || command.verb == L"post") {
        parsed = ParseMessage(command, true, classId, messageId, body);
        if (parsed == EXIT_OK)
            return Exchange(PipeFor(command, MessageFamily(messageId)), command.verb == L"send", classId,
                            messageId, body);
    } else if (command.verb == L"broadcast") {
        parsed = ParseMessage(command, false, classId, messageId, body);
        if (parsed == EXIT_OK) {
            JsonValue request = {{"MessageId", messageId}, {"Body", body}};
            return Exchange(command.pipe.empty() ? IPC_SYSTEM_PIPE : command.pipe, true,
                            KEL_PROVIDER_HOST_CONTROL, KEL_HOST_MSG_BROADCAST, request);
        }
    } else if (command.verb == L"stop-service") {
        if (!command.arguments.empty()) parsed = WRONG_ARGUMENTS;
        else {
            JsonValue request;
            return Exchange(command.pipe.empty() ? IPC_SYSTEM_PIPE : command.pipe, true,
                            KEL_PROVIDER_HOST_CONTROL, KEL_HOST_MSG_STOP, request);
        }
    } else if (command.verb == L"listen") {
        parsed = Listen(command);
    } else {
        std::fwprintf(stderr, L"kelctl: unknown verb '%ls'\n", command.verb.c_str());
        parsed = WRONG_ARGUMENTS;
    }
    if (parsed != WRONG_ARGUMENTS) return parsed;
    Usage();
    return EXIT_USAGE;
}

} // namespace

int wmain(int argc, wchar_t** argv) {
    return QvCommon::Process::GuardedEntry(L"kelctl", EXIT_INTERNAL, [&] { return Run(argc, argv); });
}
