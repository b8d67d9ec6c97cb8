#include "ProviderController.h"
#include "IpcGuard.h"
#include "Process.h"
#include "QvLog.h"

#include <new>

namespace {
constexpr uint32_t POST_WORKERS = 3;
constexpr DWORD POST_STOP_TIMEOUT_MS = 5000;
constexpr uint32_t POST_ITEM = 1;
} // namespace

struct CProviderController::Registration {
    IFunctionProvider* provider;
    LONG calls = 0;
    QvCommon::Synchronize::Event drained;   // set when the last call of a removed provider ends
    bool removed = false;
};

struct CProviderController::PostItem {
    CProviderController* controller;
    uint32_t classId;
    uint32_t messageId;
    JsonValue body;
};

CProviderController::CProviderController(IProviderController* host) : m_host(host) {}

CProviderController::~CProviderController() {
    Stop();
    for (std::unique_ptr<CmdQueue>& stalled : m_stalledPosts) {
        // A worker still inside a provider uses its queue until it returns.
        if (stalled->stop(POST_STOP_TIMEOUT_MS) != 0) stalled.release();
    }
}

bool CProviderController::Start() {
    if (!m_broker.Start()) return false;
    GUID guid;
    std::wstring name;
    if (FAILED(::CoCreateGuid(&guid)) || FAILED(QvCommon::String::GuidToText(guid, name))) return false;
    m_posts.reset(new (std::nothrow) CmdQueue(POST_WORKERS, name));
    if (!m_posts || !m_posts->IsReady()) return false;
    m_posts->start(&CProviderController::PostWorker, &CProviderController::DropPost);
    return true;
}

bool CProviderController::Stop() {
    bool ended = true;
    if (m_posts && m_posts->stop(POST_STOP_TIMEOUT_MS) != 0) {
        QVLOG(QVLOG_ERROR, L"CProviderController::Stop: A posted message is still being handled; "
                           L"its queue is kept.");
        m_stalledPosts.push_back(std::move(m_posts));
        ended = false;
    }
    m_posts.reset();
    m_broker.Stop();
    return ended;
}

std::shared_ptr<CProviderController::Registration> CProviderController::Acquire(uint32_t classId) {
    QvCommon::Synchronize::AutoLock lock(m_lock);
    auto found = m_providers.find(classId);
    if (found == m_providers.end()) return nullptr;
    ++found->second->calls;
    return found->second;
}

void CProviderController::ReleaseCall(const std::shared_ptr<Registration>& registration) {
    QvCommon::Synchronize::AutoLock lock(m_lock);
    if (--registration->calls == 0 && registration->removed) registration->drained.Set();
}

bool CProviderController::HasProvider(uint32_t classId) {
    QvCommon::Synchronize::AutoLock lock(m_lock);
    return m_providers.find(classId) != m_providers.end();
}

// A message of the system side's families for a class without a provider
// here belongs to the product's service, reached through the host.
bool CProviderController::IsOutside(uint32_t classId, uint32_t messageId) {
    return !IsSessionFamily(MessageFamily(messageId)) && !HasProvider(classId);
}

uint32_t CProviderController::Deliver(uint32_t classId, uint32_t messageId, JsonValue& body) {
    std::shared_ptr<Registration> registration = Acquire(classId);
    if (!registration) {
        QVLOG(QVLOG_ERROR, L"CProviderController: No provider for class %u (message 0x%08x).", classId,
              messageId);
        return PROVIDER_RESULT_NOT_SUPPORTED;
    }
    // A provider's exception fails this one message, whichever thread runs it.
    const uint32_t result = IpcGuard::Call(L"CProviderController::Deliver",
                                           [&] { return registration->provider->MessageProc(messageId, body); });
    ReleaseCall(registration);
    return result;
}

uint32_t CProviderController::SendMessageToProvider(uint32_t classId, uint32_t messageId, JsonValue& body) {
    if (IsOutside(classId, messageId)) {
        if (!m_host) return PROVIDER_RESULT_NOT_SUPPORTED;
        return m_host->SendMessageToProvider(classId, messageId, body);
    }
    return Deliver(classId, messageId, body);
}

uint32_t CProviderController::PostMessageToProvider(uint32_t classId, uint32_t messageId,
                                                   const JsonValue& body) {
    if (IsOutside(classId, messageId)) {
        if (!m_host) return PROVIDER_RESULT_NOT_SUPPORTED;
        return m_host->PostMessageToProvider(classId, messageId, body);
    }
    if (!HasProvider(classId)) {
        QVLOG(QVLOG_ERROR, L"CProviderController: No provider for class %u (message 0x%08x).", classId,
              messageId);
        return PROVIDER_RESULT_NOT_SUPPORTED;
    }
    if (!m_posts) return PROVIDER_RESULT_NOT_INITIALIZED;
    PostItem* item = nullptr;
    try {
        item = new PostItem{this, classId, messageId, body};
    } catch (const std::bad_alloc&) {
        QVLOG(QVLOG_ERROR, L"CProviderController: Out of memory posting message 0x%08x.", messageId);
        return PROVIDER_RESULT_OUT_OF_MEMORY;
    }
    if (m_posts->add(POST_ITEM, item) != 0) {
        delete item;
        return PROVIDER_RESULT_FAILED;
    }
    return PROVIDER_RESULT_OK;
}

void CProviderController::PostWorker(CmdQueueItem& item) {
    std::unique_ptr<PostItem> post(static_cast<PostItem*>(item.parameter));
    uint32_t result = post->controller->Deliver(post->classId, post->messageId, post->body);
    if (IsProviderFailure(result))
        QVLOG(QVLOG_INFO, L"CProviderController: Posted message 0x%08x to class %u failed: 0x%08x",
              post->messageId, post->classId, result);
}

void CProviderController::DropPost(CmdQueueItem& item) { delete static_cast<PostItem*>(item.parameter); }

uint32_t CProviderController::AddMessageListener(uint32_t listenerClass, ListenerProc proc, void* context) {
    return m_broker.AddMessageListener(listenerClass, proc, context);
}

uint32_t CProviderController::RemoveMessageListener(uint32_t listenerClass, ListenerProc proc, void* context) {
    return m_broker.RemoveMessageListener(listenerClass, proc, context);
}

uint32_t CProviderController::BroadcastMessageToListeners(uint32_t messageId, const JsonValue& body) {
    return m_broker.BroadcastMessageToListeners(messageId, body);
}

uint32_t CProviderController::RegisterProvider(IFunctionProvider* provider) {
    if (!provider) return PROVIDER_RESULT_INVALID_PARAMETER;
    auto registration = std::make_shared<Registration>();
    registration->provider = provider;
    if (!registration->drained.Create()) return PROVIDER_RESULT_FAILED;
    QvCommon::Synchronize::AutoLock lock(m_lock);
    if (!m_providers.emplace(provider->GetClassId(), registration).second) {
        QVLOG(QVLOG_ERROR, L"CProviderController: Class %u is registered already.", provider->GetClassId());
        return PROVIDER_RESULT_INVALID_PARAMETER;
    }
    return PROVIDER_RESULT_OK;
}

uint32_t CProviderController::UnregisterProvider(uint32_t classId) {
    std::shared_ptr<Registration> registration;
    {
        QvCommon::Synchronize::AutoLock lock(m_lock);
        auto found = m_providers.find(classId);
        if (found == m_providers.end()) return PROVIDER_RESULT_INVALID_PARAMETER;
        registration = found->second;
        m_providers.erase(found);
        registration->removed = true;
        if (registration->calls == 0) return PROVIDER_RESULT_OK;
    }
    // The caller may destroy the provider once this returns.
    registration->drained.Wait(INFINITE);
    return PROVIDER_RESULT_OK;
}

void CProviderController::PostInitializeProviders() {
    std::map<uint32_t, std::shared_ptr<Registration>> providers;
    {
        QvCommon::Synchronize::AutoLock lock(m_lock);
        providers = m_providers;
    }
    for (auto& entry : providers) entry.second->provider->PostInitialize();
}
