#pragma once
// The agent's workspace over the real frame component, for the tests that
// watch real windows: frames on UI threads that a stand-in for the agent's
// main loop adopts, the shipped pages and string table, each frame's journal.
#include <gtest/gtest.h>

#include <memory>
#include "FrameThreads.h"
#include "ProductKeys.h"
#include "ProviderMessages.h"
#include "TestSupport.h"
#include "WorkspaceProvider.h"

namespace KelTest {

// The agent's workspace over a fresh frame manager; the product installed in
// the binary folder, in English.
struct WorkspaceFrames : ::testing::Test {
    explicit WorkspaceFrames(KelTest::FrameThreads::Adopt adopt = KelTest::FrameThreads::Adopt::Resume) : threads(adopt) {}
    void SetUp() override {
        ASSERT_TRUE(product.SetString(QV_VALUE_PRODUCT_PATH, KelTest::ProgramFolder()) &&
                    product.SetString(QV_VALUE_LANGUAGE, L"EN-US"));
        ASSERT_EQ(S_OK, component.CreateManager(frames));   // fails too when the library is missing
        ASSERT_EQ(S_OK, threads.Attach(frames.get()));
        provider.reset(new CWorkspaceProvider(&controller, frames.get(), nullptr));
    }
    void TearDown() override { provider.reset(); EXPECT_EQ(S_OK, frames->Uninitialize()); }
    // The reply stays in last.
    uint32_t Send(uint32_t id, JsonValue body = JsonValue::object()) { return provider->MessageProc(id, last = std::move(body)); }
    HWND Window(DWORD frame) { HWND window = nullptr; return SUCCEEDED(frames->GetFrameHwnd(frame, &window)) ? window : nullptr; }
    std::wstring Journal(DWORD frame) { return FrameComponent::Journal(frames.get(), frame); }
    CWorkspaceManager& Manager() { return *provider->GetManager(); }

    KelTest::RegistryScope product{QV_PRODUCT_KEY};
    FrameComponent component;
    QvCommon::UniqueCom<FrameManager> frames;
    KelTest::FrameThreads threads;
    KelTest::CannedController controller{0, JsonValue::object()};
    std::unique_ptr<CWorkspaceProvider> provider;
    JsonValue last;
};

} // namespace KelTest
