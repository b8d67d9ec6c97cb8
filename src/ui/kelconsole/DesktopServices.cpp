// What the pages and providers cannot do from a browser or a service: the
// user's clipboard, the user's folders and the open-file dialog.
#include "WorkspaceManager.h"

#include <commdlg.h>
#include "Folders.h"
#include "ProviderInterfaces.h"
#include "QvLog.h"

uint32_t CWorkspaceManager::CopyDataToClipboard(JsonValue& body) {
    if (!KelJson::HasString(body, WORKSPACE_KEY_COPY_DATA)) {
        QVLOG(QVLOG_ERROR, L"CWorkspaceManager::CopyDataToClipboard - Invalid parameter.");
        return PROVIDER_RESULT_INVALID_PARAMETER;
    }
    const uint32_t result = DoCopyDataToClipboard(KelJson::GetString(body, WORKSPACE_KEY_COPY_DATA));
    if (result != PROVIDER_RESULT_OK)
        QVLOG(QVLOG_ERROR, L"CWorkspaceManager::CopyDataToClipboard - DoCopyDataToClipboard failed: 0x%08x", result);
    return result;
}

uint32_t CWorkspaceManager::DoCopyDataToClipboard(const std::wstring& text) {
    auto failed = [](const wchar_t* step) {
        QVLOG(QVLOG_ERROR, L"CWorkspaceManager::DoCopyDataToClipboard%s", step);
        return PROVIDER_RESULT_FAILED;
    };
    const size_t bytes = (text.size() + 1) * sizeof(wchar_t);
    QvCommon::UniqueGlobalMemory block(::GlobalAlloc(GMEM_MOVEABLE, bytes));
    if (!block) return failed(L"GlobalAlloc failed");
    void* copy = ::GlobalLock(block.get());
    if (!copy) return failed(L"GlobalLock failed");
    memcpy(copy, text.c_str(), bytes);
    ::GlobalUnlock(block.get());

    QvCommon::ClipboardScope clipboard;
    if (!clipboard.IsOpen()) return failed(L"OpenClipboard failed");
    if (!::EmptyClipboard()) return failed(L"EmptyClipboard failed");
    if (!::SetClipboardData(CF_UNICODETEXT, block.get())) return failed(L"SetClipboardData failed");
    block.release();   // the clipboard owns it now
    if (!clipboard.Close()) return failed(L"CloseClipboard failed");
    return PROVIDER_RESULT_OK;
}

// One folder per request; the desktop wins when both are asked.
uint32_t CWorkspaceManager::GetSpecialPath(JsonValue& body) {
    if (KelJson::HasString(body, WORKSPACE_KEY_DESKTOP))
        body[WORKSPACE_KEY_DESKTOP] = KelJson::ToUtf8(GetUserDesktopPath());
    else if (KelJson::HasString(body, WORKSPACE_KEY_MY_DOCUMENT))
        body[WORKSPACE_KEY_MY_DOCUMENT] = KelJson::ToUtf8(GetUserDocumentsPath());
    return PROVIDER_RESULT_OK;
}

// The dialog is modal: the delivering thread waits until the user closes it.
uint32_t CWorkspaceManager::GetOpenFileNameW(JsonValue& body) {
    if (!body.is_object() || !body.contains(WORKSPACE_KEY_OPEN_FILE)) return PROVIDER_RESULT_OK;
    wchar_t file[WORKSPACE_FILE_NAME_CHARS] = {};
    OPENFILENAMEW dialog = {};
    dialog.lStructSize = sizeof(dialog);
    dialog.lpstrFilter = m_openFileFilter;
    dialog.nFilterIndex = 1;
    dialog.lpstrFile = file;
    dialog.nMaxFile = WORKSPACE_FILE_NAME_CHARS;
    dialog.Flags = WORKSPACE_OPEN_FILE_FLAGS;
    if (KelJson::HasString(body, WORKSPACE_KEY_OPEN_FILE)) {
        KelJson::GetString(body, WORKSPACE_KEY_OPEN_FILE).copy(file, WORKSPACE_FILE_NAME_CHARS - 1);
        QVLOG(QVLOG_INFO, L"CWorkspaceManager::GetOpenFileNameW default open file path: [%s]", file);
    }
    if (::GetOpenFileNameW(&dialog))
        body[WORKSPACE_KEY_OPEN_FILE] = KelJson::ToUtf8(file);
    else
        QVLOG(QVLOG_INFO, L"GetOpenFileName() fail [%d]", ::GetLastError());
    QVLOG(QVLOG_INFO, L"CWorkspaceManager::GetOpenFileNameW Get file path: [%s]", file);
    return PROVIDER_RESULT_OK;
}
