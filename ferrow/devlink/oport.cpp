#include "ferrow/devlink/oport.h"

#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <vector>

#include "ferrow/devlink/device_link.h"
#include "ferrow/devlink/trace.h"
#include "platform/net/blocking_tcp_client.h"
#include "platform/ui/time_scale.h"

namespace ferrow {

using platform::net::BlockingTcpClient;

namespace {
// A reply or the next request usually comes within a round trip on the local network: giving the CPU
// away a few times before sleeping saves the two thread wake-ups an exchange would otherwise cost,
// and yielding (instead of spinning) leaves the CPU to the other threads meanwhile.
constexpr int kYieldsBeforeSleeping = 200;

template <typename Pred>
void SpinWhile(Pred pred) {
    for (int i = 0; i < kYieldsBeforeSleeping && pred(); ++i) std::this_thread::yield();
}
}  // namespace

bool OPortRequest::SetCommand(std::string_view line) {
    m_wKind = kExchange;
    if (line.size() > sizeof m_szCommand - 1) return false;
    std::memcpy(m_szCommand, line.data(), line.size());
    m_szCommand[line.size()] = '\0';
    return true;
}

OPort::OPort(DeviceLink* link, std::int16_t kind) : m_pLink(link), m_nKind(kind) {
    try {
        worker_ = std::thread([this] { WorkerLoop(); });
    } catch (const std::system_error& e) {
        // Without a worker every request is refused at once instead of waiting for nobody.
        m_nRun = 0;
        trace("Create port thread failed %i\n", e.code().value());
    }
}

OPort::~OPort() { Stop(); }

void OPort::SetHost(std::string host) {
    std::lock_guard lock(state_);
    m_strHost = std::move(host);
}

std::string OPort::Host() const {
    std::lock_guard lock(state_);
    return m_strHost;
}

bool OPort::Execute(OPortRequest& request) {
    const std::uint16_t kind = request.m_wKind;
    if (kind != OPortRequest::kOpen && kind != OPortRequest::kClose && !m_bConnected) return false;
    if (m_nRun != 2) return false;
    std::int16_t result;
    {
        std::lock_guard requester(m_lock);
        std::unique_lock lock(state_);
        if (m_nRun != 2) return false;
        m_pRequest = &request;
        m_nPending = static_cast<std::int16_t>(kind);
        wake_.notify_all();
        // A worker reading pushes sees a request only after its loop has ended: end it now. (The loop
        // checks m_nPending before each read, so one of the two sides always notices the other.) A close
        // also cuts short a connect still in progress.
        if (readingPushes_ || kind == OPortRequest::kClose) Abort();
        lock.unlock();
        SpinWhile([this] { return m_nPending > 0 && m_nRun == 2; });
        lock.lock();
        wake_.wait(lock, [this] { return m_nPending <= 0 || m_nRun != 2; });
        const bool workerEnded = m_nPending > 0;
        result = m_nPending;
        m_pRequest = nullptr;
        m_nPending = 0;
        if (workerEnded) return false;
    }
    if (result < 0 && m_pLink) m_pLink->OnCommFailure();
    return result == 0;
}

void OPort::Finish(std::int16_t result) {
    std::lock_guard lock(state_);
    m_nPending = result;
    wake_.notify_all();
}

void OPort::WorkerLoop() {
    for (;;) {
        OPortRequest* request;
        SpinWhile([this] { return m_nPending <= 0 && m_nRun == 2; });
        {
            std::unique_lock lock(state_);
            wake_.wait(lock, [this] { return m_nPending > 0 || m_nRun != 2; });
            if (m_nRun != 2) break;
            request = m_pRequest;
        }
        switch (request->m_wKind) {
            case OPortRequest::kOpen:
                DoOpen();
                break;
            case OPortRequest::kExchange:
                DoExchange(*request);
                break;
            case OPortRequest::kClose:
                DoClose();
                break;
            default:
                Finish(0);
                break;
        }
    }
    std::lock_guard lock(state_);
    m_nRun = 0;
    wake_.notify_all();
}

void OPort::DoOpen() {
    if (m_bOpen && m_pSocket && !m_pSocket->aborted()) {  // already has its socket: nothing more to do
        Finish(0);
        return;
    }
    if (!CreateSocket()) {
        Finish(-1);
        return;
    }
    // Connecting already counts before the requester goes on, so it never sees a port in between.
    m_nStatus = 1;
    const std::string host = Host();
    Finish(0);
    int error = 0;
    BlockingTcpClient* socket;
    {
        std::lock_guard lock(socketLock_);
        socket = m_pSocket.get();
    }
    if (!socket->connect(host, static_cast<std::uint16_t>(m_nPortNumber), platform::scaled(kConnectLimit),
                         &error)) {
        if (!socket->aborted()) trace("Connect socket failed %i\r\n", error);
        m_bOpen = false;
        m_nStatus = 2;
        return;
    }
    ++m_nConnections;
    m_bConnected = true;
    m_nStatus = 0;
    if (m_nKind != kNotifyPort) return;
    NotificationLoop();
    // Ended by a request, a stop or a give-up: whoever did it decides what follows. Ended by the device
    // (closed, broken): its tags and its state say so.
    if (m_nPending <= 0 && m_nRun == 2 && m_bConnected && m_pLink) m_pLink->OnNotificationsEnded();
}

bool OPort::CreateSocket() {
    {
        std::lock_guard lock(socketLock_);
        m_pSocket.reset();
    }
    char hostName[33] = {};
    if (::gethostname(hostName, 32) != 0) {
        trace("Couldn't get host name !\r\n");
    } else {
        std::vector<std::string> addresses;
        int error = 0;
        if (!BlockingTcpClient::resolve(hostName, &addresses, &error))
            trace("Couldn't get hostent structure !\r\n");
        for (const auto& address : addresses)
            if (address != "127.0.0.1") {
                m_strLocalAddress = address;
                break;
            }
    }
    // The device is reached from the local address when there is one; a device on this machine's own
    // loopback is reached from any address, since another interface's address may not reach it.
    const std::string host = Host();
    const bool loopback = host.rfind("127.", 0) == 0 || host == "localhost";
    auto socket = std::make_unique<BlockingTcpClient>();
    int error = 0;
    if (!socket->create(loopback ? std::string() : m_strLocalAddress, &error)) {
        trace("Create socket failed %i\n", error);
        return false;
    }
    std::lock_guard lock(socketLock_);
    m_pSocket = std::move(socket);
    m_bOpen = true;
    // Bytes left from an earlier connection are not the start of this one's first line.
    if (m_pBuffer) m_pBuffer->Discard();
    return true;
}

void OPort::NotificationLoop() {
    readingPushes_ = true;
    char line[kLineLimit + 1];
    while (m_nPending <= 0 && m_nRun == 2) {
        const int length = ReadLine(line, kLineLimit);
        if (length < 0) break;
        if (length == 0) continue;
        const Notification note = ParseNotification(std::string_view(line, static_cast<std::size_t>(length)));
        auto* tag = static_cast<OqnTag*>(m_pLink ? m_pLink->Device().FindPushedTag(note.name) : nullptr);
        if (!tag) {
            // One line about a datapoint we don't know must not stop the values of all the others.
            trace("OPort: notification for unknown datapoint " + std::string(note.name) + "\r\n");
            continue;
        }
        if (!StoreHexValue(*tag, note.hex)) trace("OPort: bad value for " + tag->m_strName + "\r\n");
    }
    readingPushes_ = false;
}

void OPort::DoExchange(OPortRequest& request) {
    request.m_szReply[0] = '\0';
    if (!Send(request.m_szCommand, static_cast<int>(std::strlen(request.m_szCommand)))) {
        Finish(-1);
        return;
    }
    replyDeadline_ = std::chrono::steady_clock::now() + platform::scaled(kReplyLimit);
    const int length = ReadLine(request.m_szReply, kLineLimit);
    request.m_wReplyLength = static_cast<std::int16_t>(length);
    Finish(length >= 0 ? 0 : -1);
}

void OPort::DoClose() {
    {
        std::lock_guard lock(socketLock_);
        if (m_pSocket) m_pSocket->close();
    }
    m_bOpen = false;
    m_bConnected = false;
    Finish(0);
}

void OPort::GiveUp() {
    m_bConnected = false;
    m_bOpen = false;
    Abort();
}

void OPort::Abort() {
    std::lock_guard lock(socketLock_);
    if (m_pSocket) m_pSocket->abort();
}

void OPort::Stop() {
    if (!worker_.joinable()) return;
    Abort();
    OPortRequest close(OPortRequest::kClose);
    Execute(close);
    {
        std::lock_guard lock(state_);
        if (m_nRun == 2) m_nRun = 1;
        wake_.notify_all();
    }
    worker_.join();
    std::lock_guard lock(socketLock_);
    m_pSocket.reset();
}

bool OPort::Send(const char* bytes, int length) {
    int error = 0;
    if (!m_pSocket || !m_pSocket->sendAll(bytes, static_cast<std::size_t>(length), &error)) {
        trace("OPort::Send: %i\r\n", m_pSocket ? error : EBADF);
        return false;
    }
    return true;
}

int OPort::Receive(char* buffer, int length) {
    int error = ETIMEDOUT;
    // Pushes come when they come; a reply line has a limit in all.
    auto limit = BlockingTcpClient::kNoLimit;
    if (m_nKind != kNotifyPort)
        limit =
            std::chrono::ceil<std::chrono::milliseconds>(replyDeadline_ - std::chrono::steady_clock::now());
    long got = -1;
    if (m_pSocket && (m_nKind == kNotifyPort || limit.count() > 0))
        got = m_pSocket->receive(buffer, static_cast<std::size_t>(length), limit, &error);
    if (got == 0) {
        trace("OPort::Receive: connection closed\r\n");
        return -1;
    }
    if (got < 0) {
        // A receive we cut short ourselves (delete, reconnect, give up) is no fault of the device.
        if (!m_pSocket || !m_pSocket->aborted()) trace("OPort::Receive: %i\r\n", m_pSocket ? error : EBADF);
        return -1;
    }
    return static_cast<int>(got);
}

int OPort::ReadLine(char* dest, int max) {
    if (!m_pBuffer) m_pBuffer = std::make_unique<LineBuffer>();
    return ReadLineFrom(*m_pBuffer, dest, max,
                        [this](char* space, int count) { return Receive(space, count); });
}

}  // namespace ferrow
