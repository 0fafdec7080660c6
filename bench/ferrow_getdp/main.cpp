// "getdp" exchange latency: through OPort::Execute (requester -> worker -> device -> worker -> requester)
// against a raw blocking socket doing the same request/reply, both against the same simulated device.
#include "bench/ferrow_common/bench_support.h"
#include "ferrow/devlink/device_link.h"
#include "ferrow/model/tag.h"

using namespace ferrowbench;

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const int rounds = argc > 1 ? std::atoi(argv[1]) : 5000;
    QTemporaryDir root;
    const QString address = QStringLiteral("127.0.77.1");
    auto sim = startDevice(address, root);
    auto device = sim ? linkDevice(address) : nullptr;
    RawLineClient raw;
    if (!device || !raw.connect(address.toStdString())) return 1;
    ferrow::OqnTag level;
    level.m_strName = "Level";

    std::vector<double> port, baseline;
    for (int warm = 0; warm < 200; ++warm) {
        LinkOf(*device).ReadValue(level);
        raw.exchange("getdp/Level\r\n");
    }
    // Interleaved, so that both see the same machine load.
    for (int i = 0; i < rounds; ++i) {
        auto t0 = Clock::now();
        const std::string a = LinkOf(*device).ReadValue(level);
        auto t1 = Clock::now();
        const std::string b = raw.exchange("getdp/Level\r\n");
        auto t2 = Clock::now();
        if (a != "0000803F" || b != a) {
            std::fprintf(stderr, "unexpected reply %s / %s\n", a.c_str(), b.c_str());
            return 1;
        }
        port.push_back(micros(t1 - t0));
        baseline.push_back(micros(t2 - t1));
    }
    std::printf("getdp round trip, %d rounds each (microseconds)\n", rounds);
    std::printf("  OPort::Execute   median %8.1f  mean %8.1f\n", median(port), mean(port));
    std::printf("  raw socket       median %8.1f  mean %8.1f\n", median(baseline), mean(baseline));
    std::printf("  ratio (median)   %.2f\n", median(port) / median(baseline));
    return 0;
}
