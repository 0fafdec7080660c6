#include "pavane/automation.h"

#include <gtest/gtest.h>

#include <QComboBox>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QPushButton>
#include <memory>

#include "devsim/image_loader.h"
#include "pavane/activation_file.h"
#include "platform/ui/scripted_dialogs.h"
#include "platform/ui/time_scale.h"
#include "platform/ui/wait.h"
#include "tests/pavane/private_bus.h"
#include "tests/pavane/test_images.h"
#include "tests/support/device_fixture.h"
#include "tests/support/test_environment.h"

using namespace std::chrono_literals;

namespace {

const QString kService = QStringLiteral("org.quillon.Pavane");

// Pavane's component on a bus of the test's own, and a client connection to the same bus, both in this
// process: the client's calls are asynchronous, so the waits keep both sides running.
class AutomationTest : public ::testing::Test {
  protected:
    void SetUp() override {
        testsupport::resetFolders();
        platform::setTimeScale(0.2);
        qputenv("PAVANE_LOCAL_ADDRESS", localAddress.toLatin1());
        ASSERT_TRUE(bus.started()) << "dbus-daemon did not start";
        server = std::make_unique<pavane::AutomationServer>(
            QDBusConnection::connectToBus(bus.address(), QStringLiteral("pavane-%1").arg(++connections)),
            pavane::AutomationServer::Options{});
        QObject::connect(server.get(), &pavane::AutomationServer::finished, [this] { finished = true; });
        QString error;
        ASSERT_TRUE(server->start(&error)) << error.toStdString();
        clientName = QStringLiteral("client-%1").arg(++connections);
        client = std::make_unique<QDBusConnection>(QDBusConnection::connectToBus(bus.address(), clientName));
    }
    void TearDown() override {
        server.reset();
        client.reset();
        QDBusConnection::disconnectFromBus(clientName);
        qunsetenv("PAVANE_LOCAL_ADDRESS");
        platform::setTimeScale(1.0);
    }

    QDBusMessage call(const QString& path, const QString& interface, const QString& method,
                      const QVariantList& arguments = {}) {
        QDBusMessage message = QDBusMessage::createMethodCall(kService, path, interface, method);
        message.setArguments(arguments);
        return message;
    }
    // Sends and waits for the answer, keeping this thread's events running.
    QDBusMessage roundTrip(const QDBusMessage& message) {
        QDBusPendingCall pending = client->asyncCall(message, 30000);
        waitFor(pending);
        return pending.reply();
    }
    QString createDownload() {
        const QDBusMessage reply = roundTrip(
            call(QStringLiteral("/org/quillon/Pavane"), kService, QStringLiteral("CreateDownload")));
        EXPECT_EQ(reply.type(), QDBusMessage::ReplyMessage) << reply.errorMessage().toStdString();
        return reply.arguments().value(0).value<QDBusObjectPath>().path();
    }
    QDBusPendingCall setSource(const QString& path, const QString& ip, const QString& folder) {
        return client->asyncCall(call(path, QStringLiteral("org.quillon.Pavane.Download"),
                                      QStringLiteral("SetSource"), {ip, folder}),
                                 120000);
    }
    // Waits until the window shows Download alone, ready for the operator.
    bool waitForPreparedWindow() {
        return platform::ui::waitUntil(
            [&] {
                return server->window() && server->window()->isVisible() &&
                       server->window()->findChild<QPushButton*>(QStringLiteral("CmdDownload"))->isEnabled();
            },
            10s);
    }
    QPushButton* button(const char* name) {
        return server->window()->findChild<QPushButton*>(QString::fromLatin1(name));
    }
    // The reply comes in on the bus's own thread; the watcher's event is what wakes this one.
    static bool waitFor(const QDBusPendingCall& pending) {
        QDBusPendingCallWatcher watcher(pending);
        return platform::ui::waitUntil([&] { return watcher.isFinished(); }, 30s);
    }

    static inline int connections = 0;
    platform::ui::ScriptedDialogs dialogs;
    testsupport::PrivateBus bus;
    const QString localAddress = testsupport::uniqueLoopbackAddress();
    std::unique_ptr<pavane::AutomationServer> server;
    std::unique_ptr<QDBusConnection> client;
    QString clientName;
    bool finished = false;
};

QString imageFolder(qint64 size) { return QFileInfo(testsupport::writeImage(size)).absolutePath(); }

}  // namespace

TEST_F(AutomationTest, SetSourceAnswersOnceTheOperatorsDownloadIsComplete) {
    auto device = testsupport::startDevice({});
    ASSERT_TRUE(device);
    const qint64 size = 40 * 1470 + 77;
    const QString folder = imageFolder(size);
    EXPECT_EQ(server->window(), nullptr);  // nothing shown before a client calls

    QDBusPendingCall pending = setSource(createDownload(), device->options().address, folder);
    ASSERT_TRUE(waitForPreparedWindow());
    ASSERT_EQ(dialogs.boxes().size(), 1u);
    EXPECT_EQ(
        dialogs.boxes()[0].text,
        QStringLiteral("Entfernen Sie den Ethernetloopbackstecker und schließen das Ethernetkabel an Hub und "
                       "Board an!!"));
    EXPECT_EQ(dialogs.boxes()[0].title, QStringLiteral("Info für Download"));
    EXPECT_EQ(dialogs.boxes()[0].style, platform::ui::mb::OkOnly | platform::ui::mb::Exclamation);
    EXPECT_FALSE(button("CmdFileSel")->isVisible());
    EXPECT_FALSE(button("CmdQuit")->isVisible());
    EXPECT_EQ(button("CmdDownload")->x(), 1320 / 15);
    EXPECT_EQ(server->window()->findChild<QComboBox*>(QStringLiteral("txtIP"))->currentText(),
              device->options().address);
    EXPECT_EQ(server->window()->sFlatRelDir, folder);

    platform::ui::waitFor(50ms);
    EXPECT_FALSE(pending.isFinished());  // it waits for the download, not for the window
    button("CmdDownload")->click();
    EXPECT_EQ(server->window()->statusText(), QStringLiteral("Image download complete"));
    ASSERT_TRUE(waitFor(pending));
    EXPECT_EQ(pending.reply().type(), QDBusMessage::ReplyMessage)
        << pending.reply().errorMessage().toStdString();
    ASSERT_TRUE(device->log().waitFor("image: stored", 30s));
    QFile stored(device->files().root() + QStringLiteral("/nk.bin"));
    ASSERT_TRUE(stored.open(QIODevice::ReadOnly));
    EXPECT_TRUE(stored.readAll() == testsupport::imageBytes(size));
}

TEST_F(AutomationTest, ClosingTheWindowAnswersThePendingCallWithAnError) {
    QDBusPendingCall pending = setSource(createDownload(), QStringLiteral("10.0.0.1"), imageFolder(3000));
    ASSERT_TRUE(waitForPreparedWindow());
    server->window()->close();
    ASSERT_TRUE(waitFor(pending));
    EXPECT_EQ(pending.reply().errorName(), QLatin1String(pavane::kErrorEnded));
    EXPECT_TRUE(finished);
}

TEST_F(AutomationTest, AnAbortAnswersWithTheAbortText) {
    QDBusPendingCall pending = setSource(createDownload(), QStringLiteral("10.0.0."), imageFolder(3000));
    ASSERT_TRUE(waitForPreparedWindow());
    button("CmdDownload")->click();
    ASSERT_TRUE(waitFor(pending));
    EXPECT_EQ(pending.reply().errorName(), QLatin1String(pavane::kErrorAborted));
    EXPECT_EQ(pending.reply().errorMessage(), QStringLiteral("Program aborted - invalid IP address"));
    EXPECT_FALSE(finished);  // the window stays for the operator to close
}

TEST_F(AutomationTest, AFolderThatIsNotThereFailsTheCall) {
    QDBusPendingCall pending =
        setSource(createDownload(), QStringLiteral("10.0.0.1"), QStringLiteral("/no/such/folder/anywhere"));
    ASSERT_TRUE(waitFor(pending));
    EXPECT_EQ(pending.reply().errorName(), QLatin1String(pavane::kErrorPathNotFound));
    EXPECT_FALSE(server->window()->findChild<QPushButton*>(QStringLiteral("CmdDownload"))->isEnabled());
}

TEST_F(AutomationTest, ASecondCallWhileOneIsPendingIsRefused) {
    const QString path = createDownload();
    QDBusPendingCall first = setSource(path, QStringLiteral("10.0.0.1"), imageFolder(3000));
    ASSERT_TRUE(waitForPreparedWindow());
    QDBusPendingCall second = setSource(createDownload(), QStringLiteral("10.0.0.2"), imageFolder(3000));
    ASSERT_TRUE(waitFor(second));
    EXPECT_EQ(second.reply().errorName(), QLatin1String(pavane::kErrorBusy));
    EXPECT_FALSE(first.isFinished());
}

TEST_F(AutomationTest, ReleasingTheLastObjectEndsTheComponent) {
    const QString first = createDownload();
    const QString second = createDownload();
    QDBusPendingCall pending = setSource(first, QStringLiteral("10.0.0.1"), imageFolder(3000));
    ASSERT_TRUE(waitForPreparedWindow());
    const QString download = QStringLiteral("org.quillon.Pavane.Download");
    EXPECT_EQ(roundTrip(call(second, download, QStringLiteral("Release"))).type(),
              QDBusMessage::ReplyMessage);
    EXPECT_FALSE(finished);
    EXPECT_FALSE(pending.isFinished());
    EXPECT_EQ(roundTrip(call(first, download, QStringLiteral("Release"))).type(), QDBusMessage::ReplyMessage);
    ASSERT_TRUE(waitFor(pending));
    EXPECT_EQ(pending.reply().errorName(), QLatin1String(pavane::kErrorEnded));
    EXPECT_TRUE(finished);
    EXPECT_EQ(server->objectCount(), 0);
    EXPECT_TRUE(server->window()->isUnloaded());
    // A released object is gone from the bus.
    EXPECT_EQ(roundTrip(call(first, download, QStringLiteral("Release"))).type(), QDBusMessage::ErrorMessage);
}

TEST_F(AutomationTest, AnUnusedComponentEndsAfterItsIdleTime) {
    platform::setTimeScale(0.001);
    createDownload();
    EXPECT_TRUE(platform::ui::waitUntil([&] { return finished; }, 30s));
}

// Runs a program with the test's display, time scale and a private data folder (XDG_DATA_HOME) unless
// `extra` names another; waits for it to end (at most a minute) and returns its output and status.
struct ProgramRun {
    bool ended = false;
    int exitCode = -1;
    std::string output;
};

ProgramRun runProgram(const QString& program, const QStringList& arguments,
                      const QProcessEnvironment& extra = {}) {
    QProcess process;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("XDG_DATA_HOME"), testsupport::freshFolder(QStringLiteral("data")));
    env.insert(QStringLiteral("PAVANE_UNATTENDED"), QStringLiteral("1"));
    env.insert(QStringLiteral("PAVANE_LOCAL_ADDRESS"), testsupport::uniqueLoopbackAddress());
    env.insert(QStringLiteral("QUILLON_TIME_SCALE"), QStringLiteral("0.2"));
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    env.insert(extra);
    process.setProcessEnvironment(env);
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(program, arguments);
    ProgramRun run;
    if (!process.waitForStarted(5000)) return run;
    run.ended = platform::ui::waitUntil([&] { return process.state() == QProcess::NotRunning; }, 60s);
    run.output = process.readAll().toStdString();
    if (!run.ended) {
        process.kill();
        process.waitForFinished(3000);
        return run;
    }
    run.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    return run;
}

// A client process asks a bus configured by `config` for the class and calls SetSource.
ProgramRun runClientSession(const QString& config, const QString& device, const QString& folder,
                            const QProcessEnvironment& extra = {}) {
    return runProgram(QStringLiteral("dbus-run-session"),
                      {QStringLiteral("--config-file=") + config, QStringLiteral("--"),
                       QStringLiteral(PAVANE_DBUS_CLIENT), device, folder},
                      extra);
}

void expectStored(devsim::SimulatedDevice& device, qint64 size, const char* packets) {
    ASSERT_TRUE(device.log().waitFor("image: stored", 30s));
    EXPECT_TRUE(device.log().contains(packets));
    QFile stored(device.files().root() + QStringLiteral("/nk.bin"));
    ASSERT_TRUE(stored.open(QIODevice::ReadOnly));
    EXPECT_TRUE(stored.readAll() == testsupport::imageBytes(size));
}

// The whole road: a private session bus starts Pavane from its activation file when a client process
// asks for the class; the client's SetSource returns once the device holds the image.
TEST(AutomationActivation, AnotherProcessGetsTheImageOntoTheDevice) {
    testsupport::resetFolders();
    platform::setTimeScale(0.2);
    auto device = testsupport::startDevice({});
    ASSERT_TRUE(device);
    const qint64 size = 700 * 1470 + 3;
    const QString folder = imageFolder(size);
    const QString config = testsupport::PrivateBus::writeConfig(QStringLiteral(PAVANE_SERVICE_DIR));

    const ProgramRun run = runClientSession(config, device->options().address, folder);
    platform::setTimeScale(1.0);
    ASSERT_TRUE(run.ended) << run.output;
    EXPECT_EQ(run.exitCode, 0) << run.output;
    EXPECT_NE(run.output.find("SetSource returned"), std::string::npos) << run.output;
    // The client only got its answer after the last packet was acknowledged: every packet is there.
    EXPECT_TRUE(device->log().contains("image: receiving from"));
    expectStored(*device, size, " 701 packets");
}

// On a fresh account nobody has run --register: one ordinary start of Pavane is enough for a bus that
// reads the user's own activation files to start it as the component.
TEST(AutomationActivation, AfterOnePlainStartAFreshAccountCanCreateTheClass) {
    testsupport::resetFolders();
    platform::setTimeScale(0.2);
    auto device = testsupport::startDevice({});
    ASSERT_TRUE(device);
    QProcessEnvironment account;
    const QString dataHome = testsupport::freshFolder(QStringLiteral("account"));
    account.insert(QStringLiteral("XDG_DATA_HOME"), dataHome);
    account.insert(QStringLiteral("QUILLON_SCREENSHOT_DIR"),
                   testsupport::freshFolder(QStringLiteral("shots")));

    const ProgramRun start = runProgram(QStringLiteral(PAVANE_EXE), {}, account);
    ASSERT_TRUE(start.ended) << start.output;
    EXPECT_EQ(start.exitCode, 0) << start.output;
    QFile activation(dataHome + QStringLiteral("/dbus-1/services/org.quillon.Pavane.service"));
    ASSERT_TRUE(activation.open(QIODevice::ReadOnly));
    EXPECT_EQ(QString::fromUtf8(activation.readAll()),
              pavane::activationFileText(QFileInfo(QStringLiteral(PAVANE_EXE)).canonicalFilePath()));

    const qint64 size = 3 * 1470;
    account.remove(QStringLiteral("QUILLON_SCREENSHOT_DIR"));
    const ProgramRun run = runClientSession(testsupport::PrivateBus::writeConfig({}, true),
                                            device->options().address, imageFolder(size), account);
    platform::setTimeScale(1.0);
    ASSERT_TRUE(run.ended) << run.output;
    EXPECT_EQ(run.exitCode, 0) << run.output;
    expectStored(*device, size, " 3 packets");
}

// The user's bus started before the services folder existed, so it watches none: the start that writes
// the activation file tells the bus, and the class can be created at once.
TEST(AutomationActivation, ABusThatRunsAlreadyKnowsTheClassRightAfterAStart) {
    testsupport::resetFolders();
    const QString dataHome = testsupport::freshFolder(QStringLiteral("account"));
    qputenv("XDG_DATA_HOME", dataHome.toLocal8Bit());
    testsupport::PrivateBus bus({}, true);
    ASSERT_TRUE(bus.started());
    qputenv("DBUS_SESSION_BUS_ADDRESS", bus.address().toLocal8Bit());
    const auto activatable = [&] {
        const QString name = QStringLiteral("pavane-reload-test");
        QStringList names;
        {
            QDBusConnection connection = QDBusConnection::connectToBus(bus.address(), name);
            const QDBusMessage reply = connection.call(
                QDBusMessage::createMethodCall(
                    QStringLiteral("org.freedesktop.DBus"), QStringLiteral("/org/freedesktop/DBus"),
                    QStringLiteral("org.freedesktop.DBus"), QStringLiteral("ListActivatableNames")),
                QDBus::Block, 5000);
            names = reply.arguments().value(0).toStringList();
        }
        QDBusConnection::disconnectFromBus(name);
        return names.contains(QStringLiteral("org.quillon.Pavane"));
    };
    ASSERT_FALSE(activatable());
    EXPECT_TRUE(pavane::refreshRegistration(QStringLiteral("/opt/pavane/bin/pavane")));
    EXPECT_TRUE(activatable());
    EXPECT_TRUE(pavane::unregisterComponent());
    EXPECT_FALSE(activatable());
    qunsetenv("DBUS_SESSION_BUS_ADDRESS");
    qunsetenv("XDG_DATA_HOME");
}

TEST(AutomationActivation, AStartThatCannotRegisterStillShowsTheWindow) {
    testsupport::resetFolders();
    // The data folder is a file: no activation file can be written below it.
    const QString blocked = testsupport::freshFolder(QStringLiteral("blocked")) + QStringLiteral("/data");
    QFile file(blocked);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.close();
    QProcessEnvironment account;
    account.insert(QStringLiteral("XDG_DATA_HOME"), blocked);
    const QString shots = testsupport::freshFolder(QStringLiteral("shots"));
    account.insert(QStringLiteral("QUILLON_SCREENSHOT_DIR"), shots);

    const ProgramRun start = runProgram(QStringLiteral(PAVANE_EXE), {}, account);
    ASSERT_TRUE(start.ended) << start.output;
    EXPECT_EQ(start.exitCode, 0) << start.output;
    EXPECT_TRUE(QFileInfo::exists(shots + QStringLiteral("/pavane.png"))) << start.output;
}
