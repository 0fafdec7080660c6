#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>

#include "ferrow/devlink/line_buffer.h"

namespace platform::net {
class BlockingTcpClient;
}

namespace ferrow {

class DeviceLink;

// One request handed to a port: open the connection, exchange one line, or close.
struct OPortRequest {
    static constexpr std::uint16_t kNothing = 0;
    static constexpr std::uint16_t kOpen = 1;
    static constexpr std::uint16_t kExchange = 3;
    static constexpr std::uint16_t kClose = 9;

    explicit OPortRequest(std::uint16_t kind = kNothing) : m_wKind(kind) {}
    // An exchange of `line` (which carries its own CR LF); false when it does not fit in 127 characters.
    bool SetCommand(std::string_view line);

    std::uint16_t m_wKind;
    std::int16_t m_wReplyLength = 0;
    char m_szCommand[128] = {};
    char m_szReply[140] = {};
};

// One TCP connection to a device's datapoint server and the worker thread that serves it. Other threads
// come in only through Execute, one at a time; they sleep on a condition variable until the worker has
// finished their request. A notification port's worker, once connected, reads pushed value lines until
// the connection ends. Abort() (any thread) shuts the socket down so that a worker blocked on a silent
// device returns at once.
class OPort {
  public:
    static constexpr std::int16_t kCommandPort = 1;
    static constexpr std::int16_t kNotifyPort = 2;
    static constexpr std::uint32_t kPortNumber = 4224;
    static constexpr int kLineLimit = 128;
    static constexpr std::chrono::milliseconds kConnectLimit{20000};
    // An exchange whose whole reply line does not come within this fails like a broken connection,
    // however the device trickles its bytes.
    static constexpr std::chrono::milliseconds kReplyLimit{10000};

    OPort(DeviceLink* link, std::int16_t kind);
    ~OPort();
    OPort(const OPort&) = delete;
    OPort& operator=(const OPort&) = delete;

    // True when the request ended well. Exchanges are refused at once while the port is not connected,
    // and every request is refused at once when the worker is not running.
    bool Execute(OPortRequest& request);

    // Gives the connection up from the requesting side: the socket is shut down and the port counts as
    // neither open nor connected, so the next open connects afresh.
    void GiveUp();
    // Shuts the socket down without changing the port's state (wakes a blocked worker).
    void Abort();
    // Closes and ends the worker; waits for the worker only, never for the device.
    void Stop();

    void SetHost(std::string host);
    std::string Host() const;
    bool IsConnected() const { return m_bConnected; }
    bool IsOpen() const { return m_bOpen; }
    std::int16_t Status() const { return m_nStatus; }
    bool WorkerRunning() const { return m_nRun == 2; }

    // Used by the worker only.
    bool Send(const char* bytes, int length);
    int Receive(char* buffer, int length);
    int ReadLine(char* dest, int max);

    std::atomic<std::int16_t> m_nRun{2};
    std::atomic<bool> m_bOpen{false};
    std::atomic<bool> m_bConnected{false};
    // Connections established so far; a new number means the device has forgotten what the PC told it
    // over the previous one.
    std::atomic<unsigned> m_nConnections{0};
    std::atomic<std::int16_t> m_nStatus{0};
    DeviceLink* const m_pLink;
    const std::int16_t m_nKind;
    std::atomic<std::int16_t> m_nPending{0};
    std::string m_strLocalAddress;  // worker only
    std::uint32_t m_nPortNumber = kPortNumber;

  private:
    void WorkerLoop();
    void Finish(std::int16_t result);
    void DoOpen();
    void DoExchange(OPortRequest& request);
    void DoClose();
    bool CreateSocket();
    void NotificationLoop();

    OPortRequest* m_pRequest = nullptr;  // guarded by state_
    std::string m_strHost;               // guarded by state_
    std::mutex m_lock;                   // one requester at a time
    mutable std::mutex state_;
    std::condition_variable wake_;
    std::mutex socketLock_;  // the socket object may be replaced by the worker while others abort it
    std::unique_ptr<platform::net::BlockingTcpClient> m_pSocket;
    std::unique_ptr<LineBuffer> m_pBuffer;
    std::atomic<bool> readingPushes_{false};
    std::chrono::steady_clock::time_point replyDeadline_;  // worker only: the exchange under way
    std::thread worker_;
};

}  // namespace ferrow
