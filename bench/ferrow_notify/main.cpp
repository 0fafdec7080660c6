// Notification intake: how many pushed value lines per second one device's notification worker turns
// into tag updates, and the CPU that costs; the baseline is a raw reader that only receives and splits
// the same stream into lines.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cstring>

#include "bench/ferrow_common/bench_support.h"
#include "ferrow/devlink/device_link.h"
#include "ferrow/devlink/line_buffer.h"
#include "ferrow/devlink/oport.h"
#include "ferrow/model/locks.h"

using namespace ferrowbench;

namespace {

constexpr int kTags = 100;

double cpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

int listenOn(const char* address) {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    const int one = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in at{};
    at.sin_family = AF_INET;
    at.sin_port = htons(4224);
    ::inet_pton(AF_INET, address, &at.sin_addr);
    if (::bind(fd, reinterpret_cast<sockaddr*>(&at), sizeof at) != 0 || ::listen(fd, 4) != 0) return -1;
    return fd;
}

void sendAll(int fd, const std::string& bytes) {
    std::size_t at = 0;
    while (at < bytes.size()) {
        const ssize_t n = ::send(fd, bytes.data() + at, bytes.size() - at, MSG_NOSIGNAL);
        if (n <= 0) return;
        at += static_cast<std::size_t>(n);
    }
}

// The stream: `lines` value lines over kTags tags, the last one setting tag 0 to the end mark.
std::string stream(int lines) {
    std::string out;
    char line[64];
    for (int i = 0; i < lines - 1; ++i) {
        std::snprintf(line, sizeof line, "chg/0/Tag%d/%08X\r\n", i % kTags, static_cast<unsigned>(i));
        out += line;
    }
    out += "chg/0/Tag0/FFFFFFFF\r\n";
    return out;
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const int lines = argc > 1 ? std::atoi(argv[1]) : 1'000'000;
    const char* address = "127.0.77.3";
    const int server = listenOn(address);
    if (server < 0) return 1;
    const std::string bytes = stream(lines);

    // Project: an ODevice whose notification worker takes the stream.
    auto device = ferrow::MakeLinkedDevice();
    device->m_params.m_strOctet = {"127", "0", "77", "3"};
    for (int i = 0; i < kTags; ++i) {
        auto tag = std::make_unique<ferrow::OqnTag>();
        tag->m_strName = "Tag" + std::to_string(i);
        tag->m_vtDevice = tag->m_vtCanonical = platform::com::VT_I4;
        device->AddTag(std::move(tag));
    }
    std::thread connecting([&] { device->Connect(); });
    const int first = ::accept(server, nullptr, nullptr);
    const int second = ::accept(server, nullptr, nullptr);
    // Whichever connection sends requests is the command connection: answer each line with "ok".
    std::atomic<int> command{-1};
    std::vector<std::thread> responders;
    for (int fd : {first, second})
        responders.emplace_back([fd, &command] {
            char buf[256];
            for (;;) {
                const ssize_t n = ::recv(fd, buf, sizeof buf, 0);
                if (n <= 0) return;
                command = fd;
                for (ssize_t i = 0; i < n; ++i)
                    if (buf[i] == '\n') sendAll(fd, "ok\r\n");
            }
        });
    connecting.join();
    while (!device->IsConnected()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    ferrow::LinkOf(*device).SetSimulation(false);
    const int notify = command == first ? second : first;

    ferrow::OTag* mark = device->FindPushedTag("Tag0");
    const double cpu0 = cpuSeconds();
    const auto t0 = Clock::now();
    std::thread pusher([&] { sendAll(notify, bytes); });
    for (;;) {
        {
            std::lock_guard lock(ferrow::valueLock());
            if (mark->m_value.vt == platform::com::VT_I4 && mark->m_value.lVal == -1) break;
        }
        std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    const auto t1 = Clock::now();
    const double cpu1 = cpuSeconds();
    pusher.join();

    // Baseline: receive and split the same stream, nothing more.
    int pair[2];
    ::socketpair(AF_UNIX, SOCK_STREAM, 0, pair);
    const double cpu2 = cpuSeconds();
    const auto t2 = Clock::now();
    std::thread rawPusher([&] {
        sendAll(pair[0], bytes);
        ::shutdown(pair[0], SHUT_WR);
    });
    ferrow::LineBuffer buffer;
    char line[129];
    long counted = 0;
    int fd = pair[1];
    while (ferrow::ReadLineFrom(buffer, line, 128, [fd](char* space, int count) {
               return static_cast<int>(::recv(fd, space, static_cast<std::size_t>(count), 0));
           }) >= 0)
        ++counted;
    const auto t3 = Clock::now();
    const double cpu3 = cpuSeconds();
    rawPusher.join();

    const double projectSeconds = micros(t1 - t0) / 1e6;
    const double rawSeconds = micros(t3 - t2) / 1e6;
    std::printf("notification intake, %d lines over %d tags\n", lines, kTags);
    std::printf("  ODevice worker   %10.0f lines/s   wall %6.3f s   process CPU %6.3f s\n",
                lines / projectSeconds, projectSeconds, cpu1 - cpu0);
    std::printf("  raw line split   %10.0f lines/s   wall %6.3f s   process CPU %6.3f s   (%ld lines)\n",
                counted / rawSeconds, rawSeconds, cpu3 - cpu2, counted);
    device.reset();
    for (auto& r : responders) r.join();
    ::close(first);
    ::close(second);
    ::close(server);
    return 0;
}
