#pragma once

#include "platform/shell/UniqueFd.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace sw {

// One accepted connection served on a thread of its own. Execute runs on that thread; it should
// return soon after Terminated() becomes true (WaitReadable wakes on the termination request).
class TServerThread {
public:
    TServerThread(TUniqueFd socket, std::string remoteAddress);
    virtual ~TServerThread();
    TServerThread(const TServerThread&) = delete;
    TServerThread& operator=(const TServerThread&) = delete;

    int SocketHandle() const { return FSocket.Get(); }
    const std::string& RemoteAddress() const { return FRemoteAddress; }

    // Asks the thread to end; callable from any thread.
    void Terminate();
    bool Terminated() const { return FTerminated.load(); }

    // Waits until the socket has data (true) or timeoutMs passed or termination was asked (false).
    // A negative timeout waits without limit.
    bool WaitReadable(int timeoutMs);

    // Gives the connection to another owner, as a descriptor of its own for the same socket: the
    // thread then ends without shutting the connection down, and the server's Close leaves it alone.
    TUniqueFd HandOverSocket();

protected:
    virtual void Execute() = 0;

private:
    friend class TThreadedServer;
    void Run();

    TUniqueFd FSocket;
    std::string FRemoteAddress;
    TUniqueFd FWake;      // eventfd written by Terminate
    int FServerWake = -1; // the server's eventfd, told when this thread has finished
    std::atomic<bool> FTerminated{false};
    std::atomic<bool> FFinished{false};
    std::atomic<bool> FHandedOver{false};
    std::thread FThread;
};

// A blocking TCP server: an accepting thread and one thread per accepted connection. Closing it
// asks every connection thread to end, closes its connection and joins it.
class TThreadedServer {
public:
    // Creates the thread object for an accepted connection (runs on the accepting thread); returning
    // none closes the connection.
    using TGetThread =
        std::function<std::unique_ptr<TServerThread>(TUniqueFd socket, const std::string& remoteAddress)>;

    TThreadedServer();
    ~TThreadedServer();
    TThreadedServer(const TThreadedServer&) = delete;
    TThreadedServer& operator=(const TThreadedServer&) = delete;

    int Port = 0;
    std::string BindAddress; // as TServerSocket's
    size_t MaxThreads = 256;
    size_t MaxThreadsPerAddress = 32;
    TGetThread OnGetThread;

    bool Active() const { return FListen.Valid(); }
    // Throws std::runtime_error with the reason when the port cannot be taken.
    void Open();
    void Close();
    void SetActive(bool active) { active ? Open() : Close(); }
    int LocalPort() const;
    // Connection threads currently running.
    size_t ThreadCount() const;

private:
    void AcceptLoop();
    void ReapFinished();

    TUniqueFd FListen;
    TUniqueFd FWake;
    std::atomic<bool> FStopping{false};
    std::thread FAcceptThread;
    mutable std::mutex FLock;
    std::vector<std::unique_ptr<TServerThread>> FThreads;
};

} // namespace sw
