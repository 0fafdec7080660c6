#pragma once

// Shared by the Ferrow benchmarks: a simulated device, a linked ODevice, a raw line client, timing.
#include <QCoreApplication>
#include <QStringList>
#include <QTemporaryDir>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <memory>
#include <numeric>
#include <string>
#include <thread>
#include <vector>

#include "devsim/simulated_device.h"
#include "ferrow/devlink/device_link.h"
#include "ferrow/model/device.h"
#include "platform/net/blocking_tcp_client.h"

namespace ferrowbench {

using Clock = std::chrono::steady_clock;

inline double micros(Clock::duration d) { return std::chrono::duration<double, std::micro>(d).count(); }

inline double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

inline double mean(const std::vector<double>& v) {
    return std::accumulate(v.begin(), v.end(), 0.0) / static_cast<double>(v.size());
}

inline std::unique_ptr<devsim::SimulatedDevice> startDevice(const QString& address, QTemporaryDir& root) {
    devsim::DeviceOptions options;
    options.address = address;
    options.root = root.path();
    auto device = std::make_unique<devsim::SimulatedDevice>(options);
    QString error;
    if (!device->start(&error)) {
        std::fprintf(stderr, "device: %s\n", qPrintable(error));
        return nullptr;
    }
    return device;
}

inline std::unique_ptr<ferrow::ODevice> linkDevice(const QString& address) {
    auto device = ferrow::MakeLinkedDevice();
    const QStringList octets = address.split('.');
    for (int i = 0; i < 4; ++i)
        device->m_params.m_strOctet[static_cast<std::size_t>(i)] = octets[i].toStdString();
    device->Connect();
    const auto end = Clock::now() + std::chrono::seconds(5);
    while (!device->IsConnected() && Clock::now() < end)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    if (!device->IsConnected()) return nullptr;
    return device;
}

// The baseline: one blocking socket doing request/reply lines, nothing else.
class RawLineClient {
  public:
    bool connect(const std::string& address) {
        int error = 0;
        return socket_.create({}, &error) && socket_.connect(address, 4224, std::chrono::seconds(5), &error);
    }
    std::string exchange(const std::string& line) {
        int error = 0;
        socket_.sendAll(line.data(), line.size(), &error);
        for (;;) {
            const auto end = buffer_.find("\r\n");
            if (end != std::string::npos) {
                std::string reply = buffer_.substr(0, end);
                buffer_.erase(0, end + 2);
                return reply;
            }
            char chunk[1024];
            const long got = socket_.receive(chunk, sizeof chunk, std::chrono::seconds(5), &error);
            if (got <= 0) return {};
            buffer_.append(chunk, static_cast<std::size_t>(got));
        }
    }

  private:
    platform::net::BlockingTcpClient socket_;
    std::string buffer_;
};

}  // namespace ferrowbench
