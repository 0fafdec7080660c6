// LoadTags of 2 000 datapoints from the simulated device against 2 000 raw "dpid" round trips.
#include "bench/ferrow_common/bench_support.h"
#include "devsim/datapoint_service.h"
#include "ferrow/devlink/device_link.h"

using namespace ferrowbench;

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const int count = argc > 1 ? std::atoi(argv[1]) : 2000;
    QTemporaryDir root;
    const QString address = QStringLiteral("127.0.77.2");
    auto sim = startDevice(address, root);
    if (!sim) return 1;
    sim->run([&] { sim->datapoints().setTable(devsim::DatapointTable::generated(count)); });
    auto device = linkDevice(address);
    RawLineClient raw;
    if (!device || !raw.connect(address.toStdString())) return 1;

    for (int pass = 0; pass < 3; ++pass) {
        auto fresh = linkDevice(address);
        auto t0 = Clock::now();
        const int loaded = LinkOf(*fresh).LoadTags();
        auto t1 = Clock::now();
        int rawCount = 0;
        while (!raw.exchange("dpid/" + std::to_string(rawCount) + "\r\n").empty()) ++rawCount;
        auto t2 = Clock::now();
        if (loaded != count || rawCount != count) {
            std::fprintf(stderr, "loaded %d, raw %d of %d\n", loaded, rawCount, count);
            return 1;
        }
        std::printf("pass %d: LoadTags of %d tags %8.1f ms   raw %d round trips %8.1f ms   ratio %.2f\n",
                    pass + 1, count, micros(t1 - t0) / 1000, count, micros(t2 - t1) / 1000,
                    micros(t1 - t0) / micros(t2 - t1));
    }
    return 0;
}
