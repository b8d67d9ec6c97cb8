// kelenv: prints what the agent sees on this machine — Windows version tests,
// WOW64, session, the product's settings in the views the agent reads them,
// the debug-log configuration and folders — and writes one line through the
// tracing library to show where the agent's log goes.
#include <windows.h>
#include <cstdio>
#include <string>

#include "DebugLog.h"
#include "Folders.h"
#include "Process.h"
#include "ProductKeys.h"
#include "QvLog.h"
#include "Storage.h"
#include "Version.h"

namespace {

void Line(const wchar_t* name, const std::wstring& value) {
    std::wprintf(L"%-28ls %ls\n", name, value.c_str());
}

std::wstring YesNo(bool value) { return value ? L"yes" : L"no"; }

} // namespace

int wmain() {
    const auto& version = QvCommon::Version::Current();
    Line(L"Windows version", std::to_wstring(version.major) + L"." + std::to_wstring(version.minor));
    Line(L"NT 5 / XP / NT 6 / NT 6.1",
         YesNo(QvCommon::Version::Check(QVVER_NT5_OR_LATER)) + L" / " +
             YesNo(QvCommon::Version::Check(QVVER_XP_OR_LATER)) + L" / " +
             YesNo(QvCommon::Version::Check(QVVER_NT6_OR_LATER)) + L" / " +
             YesNo(QvCommon::Version::Check(QVVER_NT61_OR_LATER)));
    Line(L"WOW64", YesNo(QvCommon::Process::IsWow64ModeProcess()));
    Line(L"session", std::to_wstring(static_cast<int>(QvCommon::Process::GetCurrentSessionId())));
    Line(L"low integrity", YesNo(QvCommon::Process::IsLowIntegrity()));

    Line(L"ProductPath", Frwk::Utility::GetInstalledFolder());
    Line(L"product language", KelCommon::GetProductLanguage());
    Line(L"WorkingSetMB", std::to_wstring(ReadRegDword(QV_PRODUCT_KEY, QV_VALUE_WORKING_SET_MB, 350,
                                                         QVREG_VIEW_DEFAULT)));
    Line(L"EnableKeystroke", ReadRegString(HKEY_LOCAL_MACHINE, QV_PRODUCT_KEY, QV_VALUE_ENABLE_KEYSTROKE,
                                           L"", QVREG_VIEW_64));
    Line(L"module folder", GetModuleFolder());
    Line(L"dump folder", Frwk::Utility::GetDumpFolder());

    QvCommon::Storage::Key location(QVSTORAGE_REGISTRY, HKEY_LOCAL_MACHINE, QV_DEBUGLOG_KEY);
    QvCommon::DebugLog& log = QvCommon::DebugLog::Instance();
    bool initialized = log.Initialize(L"kelenv", location, L".\\", QVLOG_SESSION_DETECT);
    const QvDbgConfig& config = log.GetConfig();
    Line(L"debug log", initialized ? L"initialised" : L"not initialised (QvDbg32.dll missing?)");
    Line(L"log folder (configured)", config.logFolder);
    Line(L"log prefix / file / ext", std::wstring(config.logPrefix) + L" / " + config.logFile + L" / " +
                                         config.logExtension);
    bool written = QVLOG(QVLOG_INFO, L"kelenv: the debug log works. (session=%d)",
                         static_cast<int>(QvCommon::Process::GetCurrentSessionId()));
    Line(L"test line", written ? L"accepted (or logging is switched off)" : L"not written");
    log.Uninitialize();
    return 0;
}
