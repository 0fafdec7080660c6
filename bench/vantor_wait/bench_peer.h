#pragma once

#include <QByteArray>
#include <QString>
#include <atomic>
#include <thread>

namespace vantorbench {

// A device stand-in on a thread of its own: accepts connections on `address`:4212 and sends each one
// `payload`, then closes it (or, with an empty payload, keeps it open and silent until stopped).
class BenchPeer {
  public:
    BenchPeer(const QString& address, QByteArray payload);
    ~BenchPeer();
    bool listening() const { return listenFd_ >= 0; }

  private:
    void serve();
    int listenFd_ = -1;
    QByteArray payload_;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

// A loopback address of this process's own, so a bench can run beside the tests.
QString benchAddress(int n);

// Sets up a private program folder and settings folder for the programs under test.
void usePrivateFolders();

// CPU time (user + system) this process has used, in seconds.
double cpuSeconds();

}  // namespace vantorbench
