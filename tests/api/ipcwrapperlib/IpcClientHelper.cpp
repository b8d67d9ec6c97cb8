// Client processes for the tests that cross a process boundary. Usage:
//   ipc_client_helper listen <server-pipe> <classes> <ready> <quit> <result-file> [<log-folder>]
//       adds a listener for each class of the comma-separated hexadecimal
//       list (a class listed twice is added twice with the same procedure and
//       context), signals Local\<ready>, and records into <result-file> first
//       "pipe <notify pipe name>", then one line per listener call:
//       "<class> <message id> <body>" (hexadecimal, compact JSON). Ends when
//       Local\<quit> is signalled. Exit code: the notifications received.
//   ipc_client_helper exchange <server-pipe> <tag> <count>
//       posts 0x01060010 and sends 0x01060011 <count> times each, with the
//       body {"i":<n>,"tag":"<tag>"}. Exit code: the sends answered {"ok":1}
//       with code 0.
//   ipc_client_helper factory-exit <log-folder>
//       takes the session client from the factory and ends without releasing it.
#include <windows.h>
#include <atomic>
#include <cstdio>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include "IpcClassFactory.h"
#include "IpcClient.h"
#include "TestSupport.h"

namespace {

HANDLE NamedEvent(const std::wstring& name) {
    return ::CreateEventW(nullptr, TRUE, FALSE, (L"Local\\" + name).c_str());
}

class ResultFile {
public:
    explicit ResultFile(const std::wstring& path) : m_path(path) {}
    void Append(const std::string& line) {
        QvCommon::Synchronize::AutoLock lock(m_lock);
        // Opened for each line, so the test sees every line as soon as it is written.
        FILE* file = _wfopen(m_path.c_str(), L"ab");
        if (!file) return;
        std::fputs((line + "\n").c_str(), file);
        std::fclose(file);
    }
private:
    std::wstring m_path;
    QvCommon::Synchronize::CriticalSection m_lock;
};

struct Listener {
    uint32_t listenerClass;
    ResultFile* file;
    std::atomic<int>* notifications;
};

std::string Hex(uint32_t value) {
    char text[16];
    std::snprintf(text, sizeof(text), "%x", value);
    return text;
}

void Record(void* context, uint32_t messageId, JsonValue& body) {
    auto* listener = static_cast<Listener*>(context);
    if (messageId != 0) ++*listener->notifications;
    listener->file->Append(Hex(listener->listenerClass) + " " + Hex(messageId) + " " +
                           KelTest::Narrow(KelJson::Write(body)));
}

int Listen(int argc, wchar_t** argv) {
    std::unique_ptr<KelTest::CapturedLog> log;
    if (argc == 8) log.reset(new KelTest::CapturedLog(argv[7]));
    QvCommon::UniqueHandle ready(NamedEvent(argv[4]));
    QvCommon::UniqueHandle quit(NamedEvent(argv[5]));
    ResultFile file(argv[6]);
    std::atomic<int> notifications{0};
    std::map<uint32_t, std::unique_ptr<Listener>> listeners;

    CIpcClient client;
    if (!client.Initialize(argv[2])) return -1;
    std::wstringstream classes(argv[3]);
    std::wstring item;
    while (std::getline(classes, item, L',')) {
        uint32_t listenerClass = std::wcstoul(item.c_str(), nullptr, 16);
        std::unique_ptr<Listener>& listener = listeners[listenerClass];
        if (!listener) listener.reset(new Listener{listenerClass, &file, &notifications});
        if (client.AddMessageListener(listenerClass, &Record, listener.get()) != 0) return -1;
    }
    file.Append("pipe " + KelTest::Narrow(client.GetNotifyPipeName()));
    ::SetEvent(ready.get());
    ::WaitForSingleObject(quit.get(), INFINITE);
    client.Uninitialize();
    return notifications;
}

int Exchange(const std::wstring& pipe, const std::wstring& tag, int count) {
    CIpcClient client;
    if (!client.Initialize(pipe)) return -1;
    int answered = 0;
    for (int i = 0; i < count; ++i) {
        JsonValue body{{"i", i}, {"tag", KelTest::Narrow(tag)}};
        client.PostMessageToProvider(0x106, 0x01060010, body);
        if (client.SendMessageToProvider(0x106, 0x01060011, body) == 0 && body == JsonValue{{"ok", 1}})
            ++answered;
    }
    return answered;
}

int FactoryExit(const std::wstring& logFolder) {
    // Static, and made before the factory, so that it outlives the factory's
    // destruction at exit and keeps the log open for it.
    static KelTest::CapturedLog log(logFolder);
    return IpcClassFactory::Instance().CreateClient(false) ? 0 : 1;
}

} // namespace

int wmain(int argc, wchar_t** argv) {
    const std::wstring mode = argc > 1 ? argv[1] : L"";
    if (mode == L"listen" && (argc == 7 || argc == 8)) return Listen(argc, argv);
    if (mode == L"exchange" && argc == 5) return Exchange(argv[2], argv[3], _wtoi(argv[4]));
    if (mode == L"factory-exit" && argc == 3) return FactoryExit(argv[2]);
    return 2;
}
