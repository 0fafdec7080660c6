#pragma once

#include <gtest/gtest.h>

#include <QFile>
#include <QStringList>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "ferrow/app/c_ferrow_app.h"
#include "ferrow/app/c_splash_wnd.h"
#include "ferrow/devlink/trace.h"
#include "ferrow/model/tdb_archive.h"
#include "ferrow/opc/object_count.h"
#include "platform/settings/settings_store.h"
#include "platform/ui/scripted_dialogs.h"
#include "platform/ui/time_scale.h"
#include "tests/support/test_environment.h"

namespace ferrowtest {

// What the COM server thread did, as the fake OPC layer saw it.
struct ComRecord {
    std::mutex lock;
    std::vector<std::string> steps;

    void note(const char* step) {
        std::lock_guard guard(lock);
        steps.emplace_back(step);
    }
    std::vector<std::string> taken() {
        std::lock_guard guard(lock);
        return steps;
    }
    ferrow::ComServerHooks hooks() {
        return {[this](std::uint32_t* cookie) {
                    *cookie = 1;
                    note("register");
                    return platform::com::S_OK;
                },
                [this](const std::u16string&) { note("notify"); },
                [this](std::chrono::milliseconds) {
                    note("disconnect");
                    return true;
                },
                [this](std::uint32_t) {
                    note("revoke");
                    return platform::com::S_OK;
                }};
    }
};

// The connect diagnostics of the tests' unreachable devices.
struct QuietTrace : ferrow::TraceOutput {
    void Write(std::string_view) override {}
};

// Each test gets empty settings (but a free UA port), a private runtime folder (single instance) and data
// folder (activation file), short time limits and the scripted message boxes.
class FerrowAppTest : public ::testing::Test {
  protected:
    void SetUp() override {
        testsupport::resetFolders();
        const QString runtime = testsupport::freshFolder(QStringLiteral("run"));
        QFile::setPermissions(runtime,
                              QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
        qputenv("XDG_RUNTIME_DIR", runtime.toLocal8Bit());
        dataHome = testsupport::freshFolder(QStringLiteral("data"));
        qputenv("XDG_DATA_HOME", dataHome.toLocal8Bit());
        files = testsupport::freshFolder(QStringLiteral("files"));
        platform::setTimeScale(0.1);  // a reply limit of 1 s: short, and still ample for a loaded machine
        // Each application's OPC UA endpoint on a free port, so that tests never compete for 4840.
        platform::SaveSetting(QStringLiteral("Ferrow"), QStringLiteral("UA"), QStringLiteral("Port"),
                              QStringLiteral("0"));
        ferrow::setTraceOutput(&quiet);
    }
    void TearDown() override {
        apps.clear();
        ferrow::objectCount = 0;
        platform::setTimeScale(1.0);
        ferrow::setTraceOutput(nullptr);
    }

    ferrow::CFerrowApp& start(const QStringList& arguments, bool expectRunning = true) {
        apps.push_back(std::make_unique<ferrow::CFerrowApp>(arguments, com.hooks(),
                                                            QStringLiteral("/opt/quillon/bin/ferrow")));
        ferrow::CFerrowApp& app = *apps.back();
        EXPECT_EQ(app.InitInstance(), expectRunning);
        // The splash would swallow the first click of a test.
        if (ferrow::CSplashWnd::current()) ferrow::CSplashWnd::current()->close();
        return app;
    }

    // A configuration with devices at loopback addresses where nothing listens.
    QString writeConfiguration(const QString& name, const std::vector<std::string>& devices) {
        ferrow::TdbDocument document;
        document.nextDevice = static_cast<std::uint16_t>(devices.size() + 1);
        document.root.name = "Group";
        for (const std::string& device : devices) {
            ferrow::TdbGroup group;
            group.isDevice = true;
            group.name = device;
            group.octets = {"127", "0", "0", "1"};
            const QStringList octets = testsupport::uniqueLoopbackAddress().split(QLatin1Char('.'));
            for (int i = 0; i < 4; ++i) group.octets[static_cast<std::size_t>(i)] = octets[i].toStdString();
            document.root.groups.push_back(group);
        }
        const std::string bytes = ferrow::WriteTdb(document);
        const QString path = files + QLatin1Char('/') + name;
        QFile file(path);
        file.open(QIODevice::WriteOnly);
        file.write(bytes.data(), static_cast<qint64>(bytes.size()));
        return path;
    }

    static void setRecentFile(int n, const QString& path) {
        platform::SaveSetting(QStringLiteral("Ferrow"), QStringLiteral("Recent File List"),
                              QStringLiteral("File%1").arg(n), path);
    }
    static QString recentFile(int n) {
        return platform::GetSetting(QStringLiteral("Ferrow"), QStringLiteral("Recent File List"),
                                    QStringLiteral("File%1").arg(n));
    }

    QuietTrace quiet;
    platform::ui::ScriptedDialogs boxes;
    ComRecord com;
    QString dataHome;
    QString files;
    std::vector<std::unique_ptr<ferrow::CFerrowApp>> apps;
};

}  // namespace ferrowtest
