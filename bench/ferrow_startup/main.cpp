// Ferrow's start-up to a shown window with a configuration of devices that do not answer, against the
// start-up with an empty configuration in the same run.
//
//   ferrow_startup_bench [devices]
//
// "Refusing" devices stand at loopback addresses where nothing listens: the system answers each connect
// at once. "Silent" devices drop the connect like a host that is switched off: a listener whose queue
// is full, so a connect waits for the port's own time limit (20 s) unless it happens beside the
// start-up. Tags are not part of a configuration file: with no device answering none are loaded.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QWindow>
#include <chrono>
#include <cstdio>
#include <vector>

#include "ferrow/app/c_ferrow_app.h"
#include "ferrow/app/c_main_frame.h"
#include "ferrow/app/c_splash_wnd.h"
#include "ferrow/app/opc_binding.h"
#include "ferrow/devlink/trace.h"
#include "ferrow/model/cdoc.h"
#include "ferrow/model/tdb_archive.h"
#include "platform/ui/wait.h"

namespace {

using Clock = std::chrono::steady_clock;

QString writeConfiguration(const QString& path, int devices, int thirdOctet) {
    ferrow::TdbDocument document;
    document.nextDevice = static_cast<std::uint16_t>(devices + 1);
    for (int i = 0; i < devices; ++i) {
        ferrow::TdbGroup device;
        device.isDevice = true;
        device.name = "Device" + std::to_string(i + 1);
        device.octets = {"127", "0", std::to_string(thirdOctet), std::to_string(i + 1)};
        document.root.groups.push_back(device);
    }
    const std::string bytes = ferrow::WriteTdb(document);
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly)) return {};
    file.write(bytes.data(), static_cast<qint64>(bytes.size()));
    return path;
}

// A listener on `address`:4224 whose accept queue is full: further connects get no answer at all.
class SilentHost {
  public:
    explicit SilentHost(const std::string& address) {
        listener_ = ::socket(AF_INET, SOCK_STREAM, 0);
        filler_ = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in where{};
        where.sin_family = AF_INET;
        where.sin_port = htons(4224);
        ::inet_pton(AF_INET, address.c_str(), &where.sin_addr);
        const int yes = 1;
        ::setsockopt(listener_, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
        ok_ = ::bind(listener_, reinterpret_cast<sockaddr*>(&where), sizeof where) == 0 &&
              ::listen(listener_, 0) == 0 &&
              ::connect(filler_, reinterpret_cast<sockaddr*>(&where), sizeof where) == 0;
    }
    ~SilentHost() {
        ::close(filler_);
        ::close(listener_);
    }
    bool ok() const { return ok_; }

  private:
    int listener_ = -1;
    int filler_ = -1;
    bool ok_ = false;
};

// Milliseconds from the start-up to the main window on the screen; negative when it never showed.
double startUp(const QStringList& arguments, int expectedDevices) {
    const auto t0 = Clock::now();
    double elapsed = -1;
    {
        ferrow::CFerrowApp app(arguments, ferrow::opcServerHooks(), QApplication::applicationFilePath());
        if (app.InitInstance()) {
            ferrow::CMainFrame* frame = app.mainFrame();
            const bool shown = platform::ui::waitUntil(
                [frame] { return frame->windowHandle() && frame->windowHandle()->isExposed(); },
                std::chrono::minutes(30));
            if (shown) elapsed = std::chrono::duration<double, std::milli>(Clock::now() - t0).count();
            if (app.document()->DeviceCount() != static_cast<std::size_t>(expectedDevices)) elapsed = -1;
            if (ferrow::CSplashWnd::current()) ferrow::CSplashWnd::current()->close();
        }
        app.ExitInstance();
    }
    QApplication::processEvents();
    return elapsed;
}

// The device link's diagnostics ("Connect socket failed ...") are expected here by the hundred.
class QuietTrace : public ferrow::TraceOutput {
  public:
    void Write(std::string_view) override {}
};

}  // namespace

int main(int argc, char** argv) {
    QTemporaryDir folder;
    if (qEnvironmentVariableIsEmpty("DISPLAY") && qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    for (const char* name : {"XDG_CONFIG_HOME", "XDG_RUNTIME_DIR", "XDG_DATA_HOME", "QUILLON_PROGRAM_DIR"}) {
        const QString path = folder.path() + QLatin1Char('/') + QString::fromLatin1(name);
        QDir().mkpath(path);
        QFile::setPermissions(path, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
        qputenv(name, path.toLocal8Bit());
    }
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Ferrow Explorer"));
    const int devices = argc > 1 ? std::atoi(argv[1]) : 50;
    const int silentDevices = devices;
    QuietTrace quiet;
    ferrow::setTraceOutput(&quiet);

    const QString refused = writeConfiguration(folder.path() + QStringLiteral("/refused.tdb"), devices, 88);
    const QString silent =
        writeConfiguration(folder.path() + QStringLiteral("/silent.tdb"), silentDevices, 89);
    const QString empty = writeConfiguration(folder.path() + QStringLiteral("/empty.tdb"), 0, 0);
    std::vector<std::unique_ptr<SilentHost>> hosts;
    for (int i = 0; i < silentDevices; ++i) {
        hosts.push_back(std::make_unique<SilentHost>("127.0.89." + std::to_string(i + 1)));
        if (!hosts.back()->ok()) {
            std::fprintf(stderr, "cannot set up the silent host 127.0.89.%d\n", i + 1);
            return 1;
        }
    }

    std::printf("start-up to a shown window (ms), %d devices\n", devices);
    for (int pass = 1; pass <= 3; ++pass) {
        const double baseline = startUp({empty}, 0);
        const double withRefusing = startUp({refused}, devices);
        const double withSilent = startUp({silent}, devices);
        if (baseline <= 0 || withRefusing <= 0 || withSilent <= 0) {
            std::fprintf(stderr, "a start-up did not show its window with its devices: %.1f %.1f %.1f\n",
                         baseline, withRefusing, withSilent);
            return 1;
        }
        std::printf(
            "pass %d: empty configuration %7.1f   refusing devices %7.1f (ratio %.2f)   silent devices %7.1f "
            "(ratio %.2f)\n",
            pass, baseline, withRefusing, withRefusing / baseline, withSilent, withSilent / baseline);
        std::fflush(stdout);
    }
    ferrow::setTraceOutput(nullptr);
    return 0;
}
