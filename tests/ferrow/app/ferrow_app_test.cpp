#include <QAction>
#include <QDir>
#include <QMenu>
#include <QProcess>

#include "ferrow/app/c_main_frame.h"
#include "ferrow/app/server_registration.h"
#include "ferrow/model/cdoc.h"
#include "ferrow/model/device.h"
#include "platform/settings/registry_store.h"
#include "platform/ui/wait.h"
#include "tests/ferrow/app/app_fixture.h"

using namespace std::chrono_literals;
using ferrowtest::FerrowAppTest;
using platform::RegistryStore;
namespace mb = platform::ui::mb;

namespace {
const QString kClassKey = QStringLiteral("CLSID\\{7CFD3EC3-B0F7-11d2-AA12-0080C79E15A1}");
bool registered() { return RegistryStore().keyExists(RegistryStore::Root::ClassesRoot, kClassKey); }
}  // namespace

TEST_F(FerrowAppTest, StartsWithANewConfigurationWhenThereIsNoRecentFile) {
    auto& app = start({});
    ASSERT_NE(app.mainFrame(), nullptr);
    EXPECT_EQ(app.mainFrame()->windowTitle(), QStringLiteral("Untitled - Morvane Ferrow Server"));
    EXPECT_TRUE(app.mainFrame()->isVisible());
    EXPECT_FALSE(app.mainFrame()->isMinimized());
    EXPECT_EQ(app.document()->DeviceCount(), 0u);
    EXPECT_TRUE(app.shellCommand().showSplash());
    EXPECT_TRUE(app.comThreadRunning());
    EXPECT_TRUE(platform::ui::waitUntil([&] { return !com.taken().empty(); }, 30s));
    EXPECT_EQ(com.taken(), std::vector<std::string>{"register"});
    EXPECT_TRUE(boxes.boxes().empty());
}

TEST_F(FerrowAppTest, OpensTheMostRecentFileWhenNoneIsNamed) {
    const QString plant = writeConfiguration(QStringLiteral("plant.tdb"), {"Press", "Oven"});
    setRecentFile(1, plant);
    auto& app = start({});
    EXPECT_EQ(app.mainFrame()->windowTitle(), QStringLiteral("plant.tdb - Morvane Ferrow Server"));
    ASSERT_EQ(app.document()->DeviceCount(), 2u);
    EXPECT_EQ(app.document()->Device(0)->m_strName, "Press");
    EXPECT_EQ(app.mainFrame()->pathName(), plant);
}

TEST_F(FerrowAppTest, ANamedFileWinsOverTheRecentOne) {
    setRecentFile(1, writeConfiguration(QStringLiteral("old.tdb"), {"Old"}));
    const QString named = writeConfiguration(QStringLiteral("named.tdb"), {"Named"});
    auto& app = start({named});
    EXPECT_EQ(app.mainFrame()->windowTitle(), QStringLiteral("named.tdb - Morvane Ferrow Server"));
    app.ExitInstance();
    EXPECT_EQ(recentFile(1), named);
    EXPECT_EQ(recentFile(2), files + QStringLiteral("/old.tdb"));
}

// A recent file that is missing (its share or disk may be away) starts a new configuration without a
// word and keeps its place in the list; opening it from the list reports it and only then drops it.
TEST_F(FerrowAppTest, AMissingRecentFileGivesANewConfigurationAndLeavesTheList) {
    const QString kept = writeConfiguration(QStringLiteral("kept.tdb"), {"Kept"});
    const QString away = files + QStringLiteral("/away.tdb");
    setRecentFile(1, away);
    setRecentFile(2, kept);
    auto& app = start({});
    ferrow::CMainFrame& frame = *app.mainFrame();
    EXPECT_EQ(frame.windowTitle(), QStringLiteral("Untitled - Morvane Ferrow Server"));
    EXPECT_EQ(app.document()->DeviceCount(), 0u);
    EXPECT_TRUE(boxes.boxes().empty());
    const auto listed = [&] {
        emit frame.mnuFile->aboutToShow();
        QStringList entries;
        for (QAction* action : frame.mnuFile->actions())
            if (action->property("recentIndex").isValid()) entries << action->text();
        return entries;
    };
    EXPECT_EQ(listed(), QStringList({QStringLiteral("&1 ") + away, QStringLiteral("&2 ") + kept}));

    frame.OnFileMruFile(0);
    ASSERT_EQ(boxes.boxes().size(), 1u);
    EXPECT_TRUE(boxes.boxes()[0].text.startsWith(QStringLiteral("Cannot open ") + away))
        << boxes.boxes()[0].text.toStdString();
    EXPECT_EQ(listed(), QStringList({QStringLiteral("&1 ") + kept}));
    app.ExitInstance();
    EXPECT_EQ(recentFile(1), kept);
    EXPECT_EQ(recentFile(2), QString());
}

TEST_F(FerrowAppTest, AnUnreadableFileIsReportedAndFerrowStartsEmpty) {
    const QString broken = files + QStringLiteral("/broken.tdb");
    QFile file(broken);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("not a configuration at all");
    file.close();
    setRecentFile(1, broken);
    auto& app = start({});
    ASSERT_EQ(boxes.boxes().size(), 1u);
    EXPECT_TRUE(boxes.boxes()[0].text.startsWith(QStringLiteral("Cannot open ") + broken))
        << boxes.boxes()[0].text.toStdString();
    EXPECT_EQ(app.mainFrame()->windowTitle(), QStringLiteral("Untitled - Morvane Ferrow Server"));
    EXPECT_TRUE(app.mainFrame()->isVisible());
    app.ExitInstance();
    EXPECT_EQ(recentFile(1), QString());
}

TEST_F(FerrowAppTest, StartedByComTheWindowIsMinimizedWithoutSplash) {
    for (const char* flag : {"-Embedding", "/Automation"}) {
        auto& app = start({QString::fromLatin1(flag)});
        EXPECT_FALSE(app.shellCommand().showSplash()) << flag;
        EXPECT_EQ(ferrow::CSplashWnd::current(), nullptr) << flag;
        EXPECT_TRUE(app.mainFrame()->isMinimized()) << flag;
        apps.clear();
    }
}

TEST_F(FerrowAppTest, RegistrationRunsEndWithoutAWindowInEveryTokenForm) {
    for (const char* flag : {"-RegServer", "/regserver", "-REGSERVER", "-Embedding/RegServer"}) {
        auto& reg = start({QString::fromLatin1(flag)}, false);
        EXPECT_EQ(reg.mainFrame(), nullptr) << flag;
        EXPECT_FALSE(reg.comThreadRunning()) << flag;
        EXPECT_EQ(reg.ExitInstance(), 0) << flag;
        EXPECT_TRUE(registered()) << flag;
        EXPECT_TRUE(QFile::exists(ferrow::activationFilePath())) << flag;

        auto& unreg = start({QString::fromLatin1(flag).replace(QStringLiteral("reg"), QStringLiteral("Unreg"),
                                                               Qt::CaseInsensitive)},
                            false);
        EXPECT_EQ(unreg.mainFrame(), nullptr) << flag;
        EXPECT_FALSE(registered()) << flag;
        EXPECT_FALSE(QFile::exists(ferrow::activationFilePath())) << flag;
        apps.clear();
    }
    EXPECT_TRUE(boxes.boxes().empty());
    EXPECT_TRUE(com.taken().empty());
}

TEST_F(FerrowAppTest, TheFirstRegistrationWordDecides) {
    start({QStringLiteral("-RegServer"), QStringLiteral("-UnregServer")}, false);
    EXPECT_TRUE(registered());
    start({QStringLiteral("/UnregServer"), QStringLiteral("/RegServer")}, false);
    EXPECT_FALSE(registered());
}

TEST_F(FerrowAppTest, AFailedRegistrationIsSilentAndEndsWithCodeOne) {
    // The settings folder is a file: nothing can be written there.
    const QString blocked = testsupport::settingsDir() + QStringLiteral("-blocked");
    QFile(blocked).open(QIODevice::WriteOnly);
    qputenv("XDG_CONFIG_HOME", blocked.toLocal8Bit());
    auto& app = start({QStringLiteral("-RegServer")}, false);
    qputenv("XDG_CONFIG_HOME", testsupport::settingsDir().toLocal8Bit());
    EXPECT_EQ(app.ExitInstance(), 1);
    EXPECT_TRUE(boxes.boxes().empty());
    EXPECT_FALSE(QFile::exists(ferrow::activationFilePath()));
}

TEST_F(FerrowAppTest, ASecondInstanceWarnsAndBringsTheFirstForward) {
    auto& first = start({QStringLiteral("-Embedding")});
    ASSERT_TRUE(first.mainFrame()->isMinimized());
    auto& second = start({}, false);
    EXPECT_EQ(second.mainFrame(), nullptr);
    ASSERT_EQ(boxes.boxes().size(), 1u);
    EXPECT_EQ(boxes.boxes()[0].text, QStringLiteral("The first Instance of Ferrow Server is running !"));
    EXPECT_EQ(boxes.boxes()[0].title, QStringLiteral("WARNING"));
    EXPECT_EQ(boxes.boxes()[0].style, mb::OkOnly | mb::Exclamation);
    EXPECT_TRUE(platform::ui::waitUntil([&] { return !first.mainFrame()->isMinimized(); }, 30s));
    EXPECT_TRUE(first.mainFrame()->isVisible());
    // The second run must not wipe the first one's recent files either.
    second.ExitInstance();
    EXPECT_TRUE(first.comThreadRunning());
}

// An installer registers and unregisters while the user has Ferrow open: no box, no window, done.
TEST_F(FerrowAppTest, RegistrationWorksAndEndsWhileAnotherFerrowRuns) {
    auto& first = start({QStringLiteral("-Embedding")});
    auto& reg = start({QStringLiteral("-RegServer")}, false);
    EXPECT_EQ(reg.mainFrame(), nullptr);
    EXPECT_TRUE(registered());
    auto& unreg = start({QStringLiteral("/UnregServer")}, false);
    EXPECT_EQ(unreg.mainFrame(), nullptr);
    EXPECT_FALSE(registered());
    EXPECT_TRUE(boxes.boxes().empty());
    EXPECT_TRUE(first.mainFrame()->isMinimized());
    EXPECT_TRUE(first.comThreadRunning());
}

// A file whose path holds a registration word is opened, not taken for the switch.
TEST_F(FerrowAppTest, AFileInAFolderNamedRegServerIsOpened) {
    ASSERT_TRUE(QDir(files).mkpath(QStringLiteral("RegServer")));
    const QString path = writeConfiguration(QStringLiteral("RegServer/x.tdb"), {"Press"});
    auto& app = start({path});
    ASSERT_NE(app.mainFrame(), nullptr);
    EXPECT_EQ(app.mainFrame()->windowTitle(), QStringLiteral("x.tdb - Morvane Ferrow Server"));
    EXPECT_EQ(app.document()->DeviceCount(), 1u);
    EXPECT_FALSE(registered());
}

TEST_F(FerrowAppTest, ExitStopsTheComThreadBeforeTheDocumentGoes) {
    auto& app = start({});
    ASSERT_TRUE(platform::ui::waitUntil([&] { return !com.taken().empty(); }, 30s));
    app.ExitInstance();
    EXPECT_EQ(com.taken(), (std::vector<std::string>{"register", "notify", "disconnect", "revoke"}));
    EXPECT_EQ(ferrow::CDoc::Live(), nullptr);
}

// The program itself: registration runs end by themselves, with no window to close.
TEST_F(FerrowAppTest, TheProgramRegistersAndUnregistersFromTheCommandLine) {
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    for (const char* flag : {"/RegServer", "-UnregServer"}) {
        QProcess ferrowProcess;
        ferrowProcess.setProcessEnvironment(environment);
        ferrowProcess.start(QStringLiteral(FERROW_EXECUTABLE), {QString::fromLatin1(flag)});
        ASSERT_TRUE(ferrowProcess.waitForFinished(20000)) << flag;
        EXPECT_EQ(ferrowProcess.exitCode(), 0) << flag;
        const bool registering = flag[1] == 'R';
        EXPECT_EQ(registered(), registering) << flag;
        QFile service(ferrow::activationFilePath());
        EXPECT_EQ(service.exists(), registering) << flag;
        if (registering && service.open(QIODevice::ReadOnly)) {
            const QByteArray exec = QFileInfo(QStringLiteral(FERROW_EXECUTABLE)).canonicalFilePath().toUtf8();
            EXPECT_TRUE(service.readAll().contains("Exec=" + exec + " -Embedding"));
        }
    }
}
