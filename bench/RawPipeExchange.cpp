#include "RawPipeExchange.h"
#include "HandOver.h"
#include "QvHandle.h"

#include <algorithm>
#include <atomic>
#include <memory>
#include <string>
#include <vector>

namespace {

constexpr DWORD CHUNK = 4096;
constexpr DWORD PROTOCOL_CHUNK = 1024;

DWORD ChunkSize(Chunking chunking) { return chunking == Chunking::Whole ? CHUNK : PROTOCOL_CHUNK; }

std::wstring FullName(const std::wstring& pipe) { return L"\\\\.\\pipe\\" + pipe; }

HANDLE CreateInbound(const std::wstring& pipe, Chunking chunking, DWORD flags) {
    const DWORD buffers = ChunkSize(chunking);
    return ::CreateNamedPipeW(FullName(pipe).c_str(), PIPE_ACCESS_INBOUND | flags,
                              PIPE_TYPE_BYTE | PIPE_READMODE_BYTE | PIPE_WAIT, 1, buffers, buffers,
                              1000, nullptr);
}

// Reads until the writer closes its end.
bool ReadAll(HANDLE pipe, std::string& data) {
    data.clear();
    char buffer[CHUNK];
    for (;;) {
        DWORD read = 0;
        if (!::ReadFile(pipe, buffer, CHUNK, &read, nullptr)) return ::GetLastError() == ERROR_BROKEN_PIPE;
        data.append(buffer, read);
    }
}

bool WriteTo(const std::wstring& pipe, Chunking chunking, const std::string& data) {
    const std::wstring name = FullName(pipe);
    QvCommon::UniqueHandle file;
    for (;;) {
        file.reset(::CreateFileW(name.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr));
        if (file) break;
        if (::GetLastError() != ERROR_PIPE_BUSY || !::WaitNamedPipeW(name.c_str(), 20000)) return false;
    }
    const size_t step = chunking == Chunking::Whole ? data.size() : PROTOCOL_CHUNK;
    for (size_t offset = 0; offset < data.size(); offset += step) {
        const DWORD length = static_cast<DWORD>(std::min(step, data.size() - offset));
        DWORD written = 0;
        if (!::WriteFile(file.get(), data.data() + offset, length, &written, nullptr) || written != length)
            return false;
    }
    return true;
}

std::atomic<unsigned> s_queries{0};

} // namespace

void RunRawListener(const std::wstring& pipe, Chunking chunking, HANDLE ready, HANDLE quit,
                    const std::function<void(const std::string&)>& onMessage) {
    QvCommon::UniqueHandle server(CreateInbound(pipe, chunking, FILE_FLAG_OVERLAPPED));
    QvCommon::UniqueHandle connected(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
    ::SetEvent(ready);
    std::string message;
    for (;;) {
        OVERLAPPED overlapped = {};
        overlapped.hEvent = connected.get();
        if (!::ConnectNamedPipe(server.get(), &overlapped)) {
            DWORD error = ::GetLastError();
            if (error == ERROR_IO_PENDING) {
                const HANDLE waits[] = {connected.get(), quit};
                if (::WaitForMultipleObjects(2, waits, FALSE, INFINITE) != WAIT_OBJECT_0) {
                    ::CancelIo(server.get());
                    return;
                }
            } else if (error != ERROR_PIPE_CONNECTED && error != ERROR_NO_DATA) {
                return;
            }
        }
        // Reads are synchronous on an overlapped handle through a private event.
        message.clear();
        char buffer[CHUNK];
        for (;;) {
            OVERLAPPED readOverlapped = {};
            readOverlapped.hEvent = connected.get();
            DWORD read = 0;
            if (!::ReadFile(server.get(), buffer, CHUNK, &read, &readOverlapped)) {
                if (::GetLastError() != ERROR_IO_PENDING ||
                    !::GetOverlappedResult(server.get(), &readOverlapped, &read, TRUE))
                    break;
            }
            message.append(buffer, read);
        }
        ::DisconnectNamedPipe(server.get());
        onMessage(message);
    }
}

void RunRawServer(const std::wstring& pipe, Chunking chunking, HANDLE ready, HANDLE quit, bool handOver) {
    auto answer = [chunking](const std::string& message) {
        if (message.size() < sizeof(DWORD)) return;
        DWORD nameBytes = *reinterpret_cast<const DWORD*>(message.data());
        if (message.size() < sizeof(DWORD) + nameBytes) return;
        std::wstring returnPipe(reinterpret_cast<const wchar_t*>(message.data() + sizeof(DWORD)),
                                nameBytes / sizeof(wchar_t));
        WriteTo(returnPipe, chunking, message.substr(sizeof(DWORD) + nameBytes));
    };
    std::unique_ptr<HandOver> worker(handOver ? new HandOver(answer) : nullptr);
    RunRawListener(pipe, chunking, ready, quit, [&](const std::string& message) {
        if (worker) worker->Give(message);
        else answer(message);
    });
}

bool RawSend(const std::wstring& pipe, Chunking chunking, const std::string& data) {
    return WriteTo(pipe, chunking, data);
}

bool RawQuery(const std::wstring& pipe, Chunking chunking, const std::wstring& body, std::wstring& reply) {
    std::wstring returnPipe = L"rawret_" + std::to_wstring(::GetCurrentProcessId()) + L"_" +
                              std::to_wstring(::GetCurrentThreadId()) + L"_" + std::to_wstring(++s_queries);
    QvCommon::UniqueHandle inbound(CreateInbound(returnPipe, chunking, 0));
    if (!inbound) return false;

    DWORD nameBytes = static_cast<DWORD>(returnPipe.size() * sizeof(wchar_t));
    std::string message(reinterpret_cast<const char*>(&nameBytes), sizeof(nameBytes));
    message.append(reinterpret_cast<const char*>(returnPipe.data()), nameBytes);
    message.append(reinterpret_cast<const char*>(body.data()), body.size() * sizeof(wchar_t));
    if (!WriteTo(pipe, chunking, message)) return false;

    // A server that answered and closed before this connect leaves ERROR_NO_DATA,
    // its answer still to be read, as the listener takes it.
    if (!::ConnectNamedPipe(inbound.get(), nullptr) && ::GetLastError() != ERROR_PIPE_CONNECTED &&
        ::GetLastError() != ERROR_NO_DATA)
        return false;
    std::string answer;
    if (!ReadAll(inbound.get(), answer)) return false;
    reply.assign(reinterpret_cast<const wchar_t*>(answer.data()), answer.size() / sizeof(wchar_t));
    return true;
}
