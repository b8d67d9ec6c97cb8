#include <gtest/gtest.h>

#include "KeystrokeStatus.h"
#include "LibProviderManager.h"
#include "ProviderMessages.h"
#include "TestSupport.h"

TEST(KeystrokeStatus, ReplyDecidesUnlessTheRequestFailed) {
    const struct { const char* what; uint32_t result; JsonValue reply; bool expected; } cases[] = {
        {"enabled", 0, {{"PinDriverEnable", true}}, true},
        {"disabled", 0, {{"PinDriverEnable", false}}, false},
        {"no key", 0, JsonValue::object(), false},
        {"provider failure", 0x10000003, {{"PinDriverEnable", false}}, true},
        {"transport failure", 0x10020010, JsonValue(), true},
    };
    const std::vector<JsonValue> asked = {
        {{"mode", "send"}, {"class", KEL_PROVIDER_PIN}, {"message", KEL_PIN_MSG_KEYSTROKE_STATUS}, {"body", nullptr}}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        KelTest::CannedController controller(c.result, c.reply);
        EXPECT_EQ(c.expected, KeystrokeCommon::KeystrokeSatus(&controller));
        EXPECT_EQ(asked, controller.Calls());
    }
    EXPECT_TRUE(KeystrokeCommon::KeystrokeSatus(nullptr));
}

TEST(LibProviderManager, LoadsFromAFolderAndRefusesBrokenLibraries) {
    KelTest::CapturedLog log;
    const std::wstring bin = KelTest::ProgramFolder();
    // uninitializeError: 0 when Uninitialize succeeds.
    const struct { const char* what; std::wstring folder; bool loads; DWORD uninitializeError; } cases[] = {
        {"the real library, folder with a backslash", bin, true, 0},
        {"the real library, folder without one", bin.substr(0, bin.size() - 1), true, 0},
        {"no library in the folder", bin + L"no_such_folder", false, ERROR_INVALID_HANDLE},
        {"a library without QueryProviderController", bin + L"providers_no_query", false, ERROR_INVALID_HANDLE},
    };
    size_t refused = 0;   // each refusal logs the same line once more
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        LibProviderManager manager;
        EXPECT_EQ(c.loads, manager.Initialize(c.folder));
        EXPECT_EQ(c.loads, manager.IsBound());
        EXPECT_EQ(c.uninitializeError == 0, manager.Uninitialize());
        EXPECT_TRUE(!c.uninitializeError || log.WaitFor("UnInitializeLibrary() failed. [0x00000006]", 5000, ++refused));
    }
    EXPECT_TRUE(log.Contains("InitializeLibrary() failed. [0x0000007e]"));   // module not found
    EXPECT_TRUE(log.Contains("InitializeLibrary() failed. [0x0000007f]"));   // procedure not found
    // Nothing stays loaded once the managers are gone.
    EXPECT_EQ(nullptr, ::GetModuleHandleW(L"ProviderManager32.dll"));
}
