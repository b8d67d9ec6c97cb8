#pragma once
// One end of the IPC transport, bound to one pipe name. As a receiver it runs
// an accept thread that decodes each arriving command and hands it to its
// callback (advise, notify) or to its worker pool (request, query; a query's
// result goes back to the asker's return pipe). As a sender it delivers a
// command to whoever listens on its pipe name.
#include <windows.h>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>
#include "CmdQueue.h"
#include "IpcCommand.h"
#include "IpcDefs.h"
#include "PipeServer.h"
#include "QvHandle.h"
#include "Synchronize.h"

class CIpcPeer;

// One outgoing serialised command with its destinations, and the two
// procedures that do the pipe work.
class CIpcBuffer {
public:
    CIpcBuffer(uint32_t commandType, HANDLE event, CIpcPeer* owner, CPipeServer* pipeServer);

    void AddDestination(const std::wstring& pipeName) { m_destinations.push_back(pipeName); }
    // Replaces the serialised bytes with those of the command.
    bool StoreCommand(const CIpcCommand& command);
    // Deserialises the stored bytes into the command.
    bool ReadCommand(CIpcCommand& command) const;

    // 0, or the Windows error of the last destination that failed.
    DWORD SenderProc();
    // Listens until a result arrives or the event is signalled.
    uint32_t ReceiverProc();

    uint32_t GetCommandType() const { return m_commandType; }
    CIpcPeer* GetOwner() const { return m_owner; }

private:
    bool IsEventSignaled() const;

    std::vector<std::wstring> m_destinations;
    uint32_t m_commandType;
    HANDLE m_event;
    CIpcPeer* m_owner;
    CPipeServer* m_pipeServer;
    std::vector<BYTE> m_bytes;
};

class CIpcPeer {
public:
    typedef uint32_t (*Callback)(CIpcCommand& command, void* context);

    // queryTimeoutMs bounds the wait for a query's answer.
    explicit CIpcPeer(DWORD queryTimeoutMs = IPC_QUERY_TIMEOUT_MS);
    virtual ~CIpcPeer();
    CIpcPeer(const CIpcPeer&) = delete;
    CIpcPeer& operator=(const CIpcPeer&) = delete;

    void SetPipeName(const std::wstring& name) { m_pipeName = name; }
    const std::wstring& GetPipeName() const { return m_pipeName; }
    void SetCallback(Callback callback, void* context) {
        m_callback = callback;
        m_context = context;
    }
    const std::wstring& GetPeerId() const { return m_peerId; }
    HANDLE GetAcceptThread() const { return m_acceptThread.get(); }
    // Bounds the wait for a query's answer, and for a reader to take what
    // this peer writes.
    DWORD GetQueryTimeout() const { return m_queryTimeoutMs; }

    // Returns once the pipe exists, so that writers can connect at once.
    uint32_t ReceiveStart();
    uint32_t ReceiveStop();
    // Sends by command type; a query's record is replaced by its result.
    uint32_t Send(CIpcCommand& command);
    uint32_t AddToCommandQueue(uint32_t item, void* parameter);
    uint32_t InitCommandQueue();
    uint32_t RunCallback(CIpcCommand& command);

    static void CommandQueueCallback(CmdQueueItem& item);
    static DWORD WINAPI AcceptThreadProc(void* peer);

    // The return value of a received command names its peer.
    static void StorePeer(CIpcCommand& command, CIpcPeer* peer);
    static CIpcPeer* TakePeer(CIpcCommand& command);

private:
    uint32_t Accept();   // the accept thread's work
    uint32_t SendQuery(CIpcCommand& command);
    static void MakeFailedResult(CIpcCommand& command, uint32_t code);
    static void DiscardQueueItem(CmdQueueItem& item);

    std::unique_ptr<CmdQueue> m_queue;
    QvCommon::Synchronize::CriticalSection m_queueLock;   // guards the queue's creation only
    QvCommon::Synchronize::Event m_stopEvent;
    // Set by the accept thread once its pipe exists (or could not be made),
    // so that the pipe is there when ReceiveStart returns.
    QvCommon::Synchronize::Event m_listening;
    bool m_listenFailed = false;
    std::wstring m_pipeName;
    std::wstring m_peerId;
    QvCommon::UniqueHandle m_acceptThread;
    Callback m_callback = nullptr;
    void* m_context = nullptr;
    DWORD m_queryTimeoutMs;
};
