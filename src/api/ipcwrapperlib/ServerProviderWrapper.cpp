#include "IpcDefs.h"
#include "ProviderWrappers.h"
#include "QvHandle.h"
#include "QvLog.h"

#include <new>

namespace {
// The provider library is looked up relative to the current folder.
const wchar_t* const PROVIDER_LIBRARY_FOLDER = L".\\";
constexpr DWORD CALLS_DRAIN_POLL_MS = 10;

// Polls until no call is inside any more; false when the time ran out.
bool WaitForNoCalls(const std::atomic<long>& inside, DWORD timeoutMs) {
    const DWORD start = ::GetTickCount();
    while (inside != 0) {
        if (::GetTickCount() - start >= timeoutMs) return false;
        ::Sleep(CALLS_DRAIN_POLL_MS);
    }
    return true;
}
} // namespace

CIpcServerProviderWrapper::~CIpcServerProviderWrapper() { Uninitialize(); }

bool CIpcServerProviderWrapper::Initialize() {
    if (m_initialized) return true;
    if (!CIpcClientProviderWrapper::Initialize()) return false;
    if (!m_library.Initialize(PROVIDER_LIBRARY_FOLDER)) {
        QVLOG(QVLOG_ERROR, L"CIpcServerProviderWrapper::Initialize: Failed to load ProviderManager.");
        // A library that loaded without its entry points goes too.
        m_library.Unload();
        return false;
    }
    // The library's providers reach everything outside it through this wrapper.
    uint32_t result = m_library.InitializeProviders(PROVIDER_SIDE_SESSION, this);
    if (IsProviderFailure(result)) {
        m_library.Uninitialize();
        QVLOG(QVLOG_ERROR, L"CIpcServerProviderWrapper::Initialize: InitializeProviders() failed: 0x%08x",
              result);
        return false;
    }
    m_side = PROVIDER_SIDE_SESSION;
    result = m_library.QueryProviderController(&m_controller);
    if (IsProviderFailure(result) || !m_controller) {
        QVLOG(QVLOG_ERROR, L"CIpcServerProviderWrapper::Initialize: QueryProviderController() failed: 0x%08x",
              result);
        CleanUp();
        return false;
    }
    try {
        m_server.reset(new CIpcServer);
        // Requests arriving on the session pipe enter this wrapper and are
        // routed as local calls are.
        result = m_server->Initialize(this, IPC_SESSION_PIPE);
        if (result != 0) {
            QVLOG(QVLOG_ERROR, L"CIpcServerProviderWrapper::Initialize: Failed to initialize IPC server: 0x%08x",
                  result);
            CleanUp();
            return false;
        }
    } catch (const std::bad_alloc&) {
        QVLOG(QVLOG_ERROR, L"CIpcServerProviderWrapper::Initialize: Out of memory.");
        CleanUp();
        return false;
    }
    m_initialized = true;
    m_open = true;
    return true;
}

void CIpcServerProviderWrapper::CleanUp() {
    m_library.UninitializeProviders();
    m_library.Uninitialize();
    m_controller = nullptr;
    m_server.reset();
}

bool CIpcServerProviderWrapper::PostInitialize() {
    if (!m_initialized) return true;
    uint32_t result = m_library.PostInitializeProviders();
    if (IsProviderFailure(result)) {
        QVLOG(QVLOG_ERROR, L"CIpcServerProviderWrapper::PostInitialize: PostInitializeProviders() failed: 0x%08x",
              result);
        Uninitialize();
        return false;
    }
    return true;
}

bool CIpcServerProviderWrapper::Start() {
    if (!m_server) return false;
    try {
        uint32_t result = m_initialized ? m_server->Start() : PROVIDER_RESULT_NOT_INITIALIZED;
        if (IsProviderFailure(result)) {
            QVLOG(QVLOG_ERROR, L"CIpcServerProviderWrapper::Start: Failed: error = 0x%08x", result);
            Stop();
            return false;
        }
    } catch (const std::bad_alloc&) {
        QVLOG(QVLOG_ERROR, L"CIpcServerProviderWrapper::Start: Out of memory.");
        Stop();
        return false;
    }
    return true;
}

void CIpcServerProviderWrapper::Stop() {
    if (m_server && m_initialized) m_server->Stop();
}

void CIpcServerProviderWrapper::Uninitialize() {
    if (!m_initialized) return;
    // Nothing may reach the library's controller once its providers are
    // gone: first close the gate, then stop listening and let the server's
    // pool finish what it holds (those calls now answer 0x10000005), then
    // wait for the calls of other threads that were inside already.
    m_open = false;
    Stop();
    m_server.reset();
    // A call that never returns still runs in the library: its providers are
    // not torn down under it, and the module is pinned so that letting it go
    // cannot unload it.
    if (WaitForNoCalls(m_callsInside, IPC_QUERY_TIMEOUT_MS)) {
        m_library.UninitializeProviders();
    } else {
        QVLOG(QVLOG_ERROR, L"CIpcServerProviderWrapper::Uninitialize: Calls into the providers did not return; "
                           L"the providers stay loaded.");
        HMODULE pinned = nullptr;
        ::GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_PIN,
                             reinterpret_cast<LPCWSTR>(m_library.UninitializeProviders), &pinned);
    }
    m_library.Uninitialize();
    m_controller = nullptr;
    m_initialized = false;
}

bool CIpcServerProviderWrapper::IsSessionAgentRunning() {
    QvCommon::UniqueHandle pipe(::CreateFileW(L"\\\\.\\pipe\\" IPC_SESSION_PIPE, GENERIC_WRITE, 0,
                                              nullptr, OPEN_EXISTING, 0, nullptr));
    return pipe.valid() || ::GetLastError() == ERROR_PIPE_BUSY;
}

bool CIpcServerProviderWrapper::IsLocal(uint32_t family) const {
    return (m_side == PROVIDER_SIDE_SESSION) == IsSessionFamily(family);
}

uint32_t CIpcServerProviderWrapper::SendMessageToProvider(uint32_t classId, uint32_t messageId,
                                                          JsonValue& body) {
    if (!m_open) return PROVIDER_RESULT_NOT_INITIALIZED;
    if (IsLocal(MessageFamily(messageId)))
        return CallController([&](IProviderController& c) { return c.SendMessageToProvider(classId, messageId, body); });
    return CIpcClientProviderWrapper::SendMessageToProvider(classId, messageId, body);
}

uint32_t CIpcServerProviderWrapper::PostMessageToProvider(uint32_t classId, uint32_t messageId,
                                                          const JsonValue& body) {
    if (!m_open) return PROVIDER_RESULT_NOT_INITIALIZED;
    if (IsLocal(MessageFamily(messageId)))
        return CallController([&](IProviderController& c) { return c.PostMessageToProvider(classId, messageId, body); });
    return CIpcClientProviderWrapper::PostMessageToProvider(classId, messageId, body);
}

uint32_t CIpcServerProviderWrapper::AddMessageListener(uint32_t listenerClass, ListenerProc proc,
                                                       void* context) {
    if (!m_open) return PROVIDER_RESULT_NOT_INITIALIZED;
    if (IsLocal(listenerClass >> 8))
        return CallController([&](IProviderController& c) { return c.AddMessageListener(listenerClass, proc, context); });
    return CIpcClientProviderWrapper::AddMessageListener(listenerClass, proc, context);
}

uint32_t CIpcServerProviderWrapper::RemoveMessageListener(uint32_t listenerClass, ListenerProc proc,
                                                          void* context) {
    if (!m_open) return PROVIDER_RESULT_NOT_INITIALIZED;
    if (IsLocal(listenerClass >> 8))
        return CallController([&](IProviderController& c) { return c.RemoveMessageListener(listenerClass, proc, context); });
    return CIpcClientProviderWrapper::RemoveMessageListener(listenerClass, proc, context);
}

uint32_t CIpcServerProviderWrapper::ControlMessage(uint32_t messageId, uint32_t value) {
    return CallController([&](IProviderController& c) { return c.ControlMessage(messageId, value); });
}

// A broadcast reaches the local listeners and, through the relays of the IPC
// server, the processes that listen to this agent.
uint32_t CIpcServerProviderWrapper::BroadcastMessageToListeners(uint32_t messageId, const JsonValue& body) {
    return CallController([&](IProviderController& c) { return c.BroadcastMessageToListeners(messageId, body); });
}

uint32_t CIpcServerProviderWrapper::RegisterProvider(IFunctionProvider* provider) {
    return CallController([&](IProviderController& c) { return c.RegisterProvider(provider); });
}

uint32_t CIpcServerProviderWrapper::UnregisterProvider(uint32_t classId) {
    return CallController([&](IProviderController& c) { return c.UnregisterProvider(classId); });
}
