#pragma once
// The answer of the test peers: every query is answered with its own body and
// a fixed result code, as a provider that echoes would.
#include "IpcCommand.h"
#include "IpcDefs.h"

constexpr uint32_t ECHO_RESULT_CODE = 0x77;

inline void AnswerWithEcho(CIpcCommand& query) {
    std::wstring body;
    query.GetPayloadData(body);
    IPCST_IPCINFO info = query.GetIpcInfo();
    query.Reset();
    query.SetIpcInfo(info);
    query.SetCommandType(OIPC_RESULT);
    query.SetReturnInfo(ECHO_RESULT_CODE);
    query.PutPayloadData(body);
}
