// kelprobe: what any process of the session may send to the agent's pipe,
// and whether the agent still answers afterwards.
//   kelprobe campaign [--long]
//       sends each class of bad input to the session pipe: records that break
//       the record's rules, bodies nested deeper than any limit or of
//       megabytes, records that are not the server's, seeded random mutations
//       of a valid record, and every workspace message (exit and file dialog
//       aside) with absent, empty, mistyped and oversized bodies. After each
//       class a well-formed query must be answered within 10 s. One line per
//       class; exit code: the classes after which it was not, or of which
//       not every record could be written.
//   kelprobe soak WINDOW QUERIES
//       one client of a soak: QUERIES workspace queries, each answer checked,
//       a post after each, and every 50 queries an add-on pop-up of browser
//       window WINDOW shown and closed (two broadcasts of class 0x1802); the
//       window is cleaned up at the end. Exit code: wrong or missing answers.
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <random>
#include <string>
#include <vector>
#include "IpcClient.h"
#include "IpcCommand.h"
#include "IpcDefs.h"
#include "PipeServer.h"
#include "ProviderMessages.h"
#include "ProviderResult.h"

namespace {

// How long the server may be away (it listens again after a result record),
// and how often it is tried meanwhile.
constexpr DWORD AWAY_LIMIT_MS = 10000;
constexpr DWORD RETRY_MS = 50;
constexpr ULONGLONG CLASS_LIMIT_MS = 30000, LONG_CLASS_LIMIT_MS = 300000;

std::vector<BYTE> Record(uint32_t type, uint32_t classId, uint32_t messageId, const std::wstring& payload) {
    CIpcCommand command;
    command.SetCommandType(type);
    command.SetIpcInfo({classId, messageId});
    command.PutPayloadData(payload);
    return command.Serialized();
}

// One connection of a client: connect, write, close.
bool WriteOnce(const std::vector<BYTE>& bytes) {
    for (ULONGLONG start = ::GetTickCount64(); ::GetTickCount64() - start < AWAY_LIMIT_MS; ::Sleep(RETRY_MS)) {
        CPipeClient client;
        if (!client.Initial(IPC_SESSION_PIPE)) continue;
        DWORD size = static_cast<DWORD>(bytes.size());
        return bytes.empty() || (client.Send(bytes.data(), &size) && size == bytes.size());
    }
    return false;
}

// A server that listens again is not there for a moment: asked again.
bool Healthy(const char* after, int count, int delivered) {
    const ULONGLONG start = ::GetTickCount64();
    CIpcClient client(AWAY_LIMIT_MS);
    bool answered = false;
    while (client.Initialize(IPC_SESSION_PIPE) && !answered && ::GetTickCount64() - start < AWAY_LIMIT_MS) {
        JsonValue body;
        answered = client.SendMessageToProvider(KEL_PROVIDER_WORKSPACE, KEL_PROVIDER_WORKSPACE_MSG_GET_CONSOLE_UI_STATUS,
                                                body) == 0 && body.contains("ConsoleUiStatus");
        if (!answered) ::Sleep(RETRY_MS);
    }
    std::printf("%-32s %5d of %-5d written, health query %s in %llu ms\n", after, delivered, count,
                answered ? "answered" : "NOT ANSWERED", ::GetTickCount64() - start);
    std::fflush(stdout);
    return answered;
}

int RecordClasses(bool longRun) {
    const int rounds = longRun ? 50 : 4;
    std::mt19937 random(19);
    const std::vector<BYTE> valid = Record(OIPC_QUERY, KEL_PROVIDER_WORKSPACE,
                                           KEL_PROVIDER_WORKSPACE_MSG_GET_CONSOLE_UI_STATUS, LR"({"a":[1,"b"]})");
    auto withWord = [&](size_t offset, uint32_t value) {
        std::vector<BYTE> bytes = valid;
        for (int i = 0; i < 4; ++i) bytes[offset + i] = static_cast<BYTE>(value >> (8 * i));
        return bytes;
    };
    auto queryOrPost = [](int i) { return i % 2 ? OIPC_REQUEST : OIPC_QUERY; };
    const std::wstring deep = std::wstring(20000, L'[') + std::wstring(20000, L']');
    const std::wstring huge = L"{\"x\":\"" + std::wstring(5 << 19, L'h') + L"\"}";   // 5 MB of UTF-16
    const struct { const char* name; int count; std::function<std::vector<BYTE>(int)> record; } classes[] = {
        {"short records", 8, [&](int i) { return std::vector<BYTE>(valid.begin(), valid.begin() + i * 7); }},
        {"wrong first word", rounds, [&](int i) { return withWord(0, i % 2 ? 0 : 0x38000000u + i); }},
        {"lying payload size", rounds, [&](int i) { return withWord(32, i % 2 ? 0xFFFFFFF0u : 1 + 1000 * i); }},
        {"odd payload length", rounds, [&](int) { auto bytes = withWord(32, 27); bytes.push_back('x'); return bytes; }},
        {"bad UTF-16", rounds, [&](int i) { return Record(queryOrPost(i), 6, 0x18000021, L"{\"a\":\"\xD800\"}"); }},
        {"not JSON", rounds, [&](int i) { return Record(queryOrPost(i), 6, 0x18000021, L"not {json"); }},
        {"unknown types, classes, ids", rounds, [&](int i) { return Record(6 + i, 0x55 + i, 0x1800FF00 + i, L"{}"); }},
        {"nested 20,000 deep", rounds, [&](int i) { return Record(queryOrPost(i), 6, 0x18000021, deep); }},
        {"5 MB payloads", rounds, [&](int i) { return Record(queryOrPost(i), 6, 0x18000005, huge); }},
        {"advises with odd names", rounds,
         [&](int i) { return Record(OIPC_ADVISE, 0, 0x1802, i % 2 ? std::wstring() : std::wstring(5000, L'n')); }},
        {"notifies to the server", rounds, [&](int) { return Record(OIPC_NOTIFY, 0, 0x18020001, L"{}"); }},
        {"results to the server", rounds, [&](int) { return Record(OIPC_RESULT, 6, 0x18000021, L"{}"); }},
        {"random mutations", rounds * 100, [&](int) {
             std::vector<BYTE> bytes = valid;
             for (int flips = 1 + random() % 6; flips > 0; --flips) bytes[random() % bytes.size()] = static_cast<BYTE>(random());
             bytes.resize(random() % 4 ? bytes.size() : random() % bytes.size());
             return bytes;
         }},
    };
    int unhealthy = 0;
    for (const auto& badClass : classes) {
        const ULONGLONG start = ::GetTickCount64();
        int delivered = 0;
        for (int i = 0; i < badClass.count && ::GetTickCount64() - start < (longRun ? LONG_CLASS_LIMIT_MS : CLASS_LIMIT_MS); ++i)
            delivered += WriteOnce(badClass.record(i));
        unhealthy += !Healthy(badClass.name, badClass.count, delivered) || delivered < badClass.count;
    }
    return unhealthy;
}

// Each is answered, whatever the code; the slowest is reported.
int WorkspaceBodies() {
    const JsonValue bodies[] = {
        nullptr, JsonValue::object(), JsonValue::array({1}), "text", 42,
        {{"BrowserName", 1}, {"WindowId", {1}}, {"TabId", nullptr}, {"BalloonPageName", 5}, {"BalloonPosX", "x"},
         {"Url", 7}, {"BalloonInitData", {{"a", 1}}}, {"BalloonThreadId", -1}, {"TabIndex", "0"}},
        {{"BrowserName", "IE"}, {"WindowId", "1"}, {"TabId", "1"}, {"Padding", std::string(2 << 20, 'p')}},
    };
    CIpcClient client;
    if (!client.Initialize(IPC_SESSION_PIPE)) return 1;
    ULONGLONG longest = 0;
    uint32_t slowest = 0;
    int unanswered = 0, sent = 0;
    for (uint32_t id = KEL_PROVIDER_WORKSPACE_MSG_DO_RECORD; id <= KEL_PROVIDER_WORKSPACE_MSG_GET_ACTIVATED_UI_COUNT; ++id) {
        if (id == KEL_PROVIDER_WORKSPACE_MSG_EXIT_PROGRAM || id == KEL_PROVIDER_WORKSPACE_MSG_GET_OPEN_FILE_NAME) continue;
        for (const JsonValue& original : bodies) {
            const ULONGLONG start = ::GetTickCount64();
            JsonValue body = original;
            const uint32_t code = client.SendMessageToProvider(KEL_PROVIDER_WORKSPACE, id, body);
            ++sent;
            if (IsTransportFailure(code)) {
                ++unanswered;
                std::printf("message 0x%08x not answered: 0x%08x\n", id, code);
            }
            if (::GetTickCount64() - start > longest) {
                longest = ::GetTickCount64() - start;
                slowest = id;
            }
        }
    }
    std::printf("workspace bodies: %d unanswered; the longest, message 0x%08x, took %llu ms\n", unanswered, slowest, longest);
    return unanswered + !Healthy("workspace bodies", sent, sent - unanswered);
}

// Each query with the code and the reply key it must get.
struct SoakQuery {
    uint32_t message;
    JsonValue body;
    uint32_t code;
    const char* key;
};

int Soak(const std::string& window, int queries) {
    CIpcClient client;
    if (!client.Initialize(IPC_SESSION_PIPE)) return -1;
    // Tab keys are the browser's and the tab's: each client has a tab of its own.
    const JsonValue tab = {{"BrowserName", "SW"}, {"WindowId", window}, {"TabId", window}};
    JsonValue popup = tab;
    popup.update({{"BalloonPageName", "BHOConsole.html"}, {"BalloonType", 2}, {"BalloonToolbarHWND", "0"}});
    JsonValue elsewhere = tab;
    elsewhere["TabId"] = "none";
    const SoakQuery mix[] = {
        {KEL_PROVIDER_WORKSPACE_MSG_GET_CONSOLE_UI_STATUS, JsonValue::object(), 0, "ConsoleUiStatus"},
        {KEL_PROVIDER_WORKSPACE_MSG_GET_ACTIVATED_UI_COUNT, JsonValue::object(), 0, "ActivatedUiCnt"},
        {KEL_PROVIDER_WORKSPACE_MSG_GET_BALLOON_STATUS, elsewhere, PROVIDER_RESULT_NOT_INITIALIZED, "BalloonIsShow"},
    };
    int answered = 0, wrong = 0;
    auto ask = [&](const SoakQuery& query) {
        JsonValue body = query.body;
        const uint32_t code = client.SendMessageToProvider(KEL_PROVIDER_WORKSPACE, query.message, body);
        answered += !IsTransportFailure(code);
        if (code != query.code || (query.key && !body.contains(query.key))) {
            ++wrong;
            std::printf("wrong: message 0x%08x code 0x%08x body %s\n", query.message, code, body.dump().c_str());
        }
    };
    for (int sent = 0; sent < queries; ++sent) {
        if (sent % 50 == 49) {
            ask({KEL_PROVIDER_WORKSPACE_MSG_SHOW_BALLOON, popup, 0, nullptr});
            ask({KEL_PROVIDER_WORKSPACE_MSG_CLOSE_BALLOON, tab, 0, nullptr});
            ++sent;
            continue;
        }
        ask(mix[sent % 3]);
        JsonValue move = elsewhere;
        move.update({{"BalloonPosX", sent}, {"BalloonPosY", 1}});
        client.PostMessageToProvider(KEL_PROVIDER_WORKSPACE, KEL_PROVIDER_WORKSPACE_MSG_MOVE_BALLOON, move);
    }
    // The pop-up record goes with the window's: 0.
    ask({KEL_PROVIDER_WORKSPACE_MSG_CLEANUP_BROWSER_MAP, tab, 0, nullptr});
    std::printf("answered=%d wrong=%d\n", answered, wrong);
    return wrong;
}

} // namespace

int wmain(int argc, wchar_t** argv) {
    const std::wstring mode = argc > 1 ? argv[1] : L"";
    if (mode == L"campaign" && argc <= 3) {
        const bool longRun = argc == 3 && std::wstring(argv[2]) == L"--long";
        return RecordClasses(longRun) + WorkspaceBodies();
    }
    if (mode == L"soak" && argc == 4) return Soak(KelJson::ToUtf8(argv[2]), _wtoi(argv[3]));
    std::fwprintf(stderr, L"usage: kelprobe campaign [--long] | kelprobe soak WINDOW QUERIES\n");
    return 2;
}
