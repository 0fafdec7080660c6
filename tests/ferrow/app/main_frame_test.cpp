#include <QAction>
#include <QApplication>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QSplitter>
#include <QTest>
#include <QToolBar>

#include "ferrow/app/c_main_frame.h"
#include "ferrow/app/views/device_commands.h"
#include "ferrow/app/views/device_view.h"
#include "ferrow/app/views/tag_view.h"
#include "ferrow/model/cdoc.h"
#include "ferrow/model/device.h"
#include "platform/ui/wait.h"
#include "tests/ferrow/app/app_fixture.h"

using namespace std::chrono_literals;
using ferrowtest::FerrowAppTest;
namespace mb = platform::ui::mb;

namespace {
const QString kClientsQuestion =
    QStringLiteral("OPC Clients are currently connected to this server, Exit anyway?");
}

TEST_F(FerrowAppTest, ExitWithConnectedClientsAsksAndNoKeepsEverythingRunning) {
    auto& app = start({});
    ferrow::CMainFrame& frame = *app.mainFrame();
    ASSERT_TRUE(platform::ui::waitUntil([&] { return !com.taken().empty(); }, 30s));
    ferrow::objectCount = 2;

    boxes.answerNext(mb::No);
    frame.actAppExit->trigger();
    ASSERT_EQ(boxes.boxes().size(), 1u);
    EXPECT_EQ(boxes.boxes()[0].text, kClientsQuestion);
    EXPECT_EQ(boxes.boxes()[0].title, QStringLiteral("FERROW"));
    EXPECT_EQ(boxes.boxes()[0].style, mb::YesNo | mb::Exclamation);
    EXPECT_TRUE(frame.isVisible());
    EXPECT_TRUE(app.comThreadRunning());

    // The close box asks the same with the stop icon.
    boxes.answerNext(mb::No);
    frame.close();
    ASSERT_EQ(boxes.boxes().size(), 2u);
    EXPECT_EQ(boxes.boxes()[1].style, mb::YesNo | mb::Critical);
    EXPECT_TRUE(frame.isVisible());
    EXPECT_TRUE(app.comThreadRunning());
    EXPECT_EQ(com.taken(), std::vector<std::string>{"register"});

    // Yes tells and disconnects the clients, then the ordinary exit goes on.
    boxes.answerNext(mb::Yes);
    frame.actAppExit->trigger();
    EXPECT_FALSE(app.comThreadRunning());
    EXPECT_EQ(com.taken(), (std::vector<std::string>{"register", "notify", "disconnect", "revoke"}));
    EXPECT_FALSE(frame.isVisible());
    EXPECT_EQ(boxes.boxes().size(), 3u);
}

// Exit anyway, then Cancel in the save question: the exit never happened, so the clients were neither
// told nor cut off. They are cut off only once the save question has let the exit go on.
TEST_F(FerrowAppTest, CancellingTheSaveQuestionAfterExitAnywayLeavesTheClientsConnected) {
    auto& app = start({});
    ferrow::CMainFrame& frame = *app.mainFrame();
    ASSERT_TRUE(platform::ui::waitUntil([&] { return !com.taken().empty(); }, 30s));
    ferrow::objectCount = 1;
    app.document()->SetModifiedFlag();
    const QString saveQuestion = QStringLiteral("Save changes to Untitled?");
    std::vector<std::string> stepsAtSaveQuestion;
    boxes.onBox([&](const platform::ui::MessageBoxRequest& box) {
        if (box.text == saveQuestion) stepsAtSaveQuestion = com.taken();
    });

    boxes.answerNext(mb::Yes);
    boxes.answerNext(mb::Cancel);
    frame.actAppExit->trigger();
    EXPECT_EQ(boxes.boxTexts(), (QStringList{kClientsQuestion, saveQuestion}));
    EXPECT_TRUE(frame.isVisible());
    EXPECT_TRUE(app.comThreadRunning());

    // The close box the same way.
    boxes.answerNext(mb::Yes);
    boxes.answerNext(mb::Cancel);
    frame.close();
    EXPECT_EQ(boxes.boxTexts().size(), 4);
    EXPECT_EQ(boxes.boxes()[2].style, mb::YesNo | mb::Critical);
    EXPECT_EQ(boxes.boxes()[3].text, saveQuestion);
    EXPECT_TRUE(frame.isVisible());
    EXPECT_TRUE(app.comThreadRunning());
    EXPECT_EQ(com.taken(), std::vector<std::string>{"register"});

    // Exit anyway without saving: the clients are told and cut off after the save question.
    boxes.answerNext(mb::Yes);
    boxes.answerNext(mb::No);
    frame.actAppExit->trigger();
    EXPECT_EQ(stepsAtSaveQuestion, std::vector<std::string>{"register"});
    EXPECT_FALSE(frame.isVisible());
    EXPECT_FALSE(app.comThreadRunning());
    EXPECT_EQ(com.taken(), (std::vector<std::string>{"register", "notify", "disconnect", "revoke"}));
}

TEST_F(FerrowAppTest, WithoutClientsExitAsksNothing) {
    auto& app = start({});
    app.mainFrame()->actAppExit->trigger();
    EXPECT_FALSE(app.mainFrame()->isVisible());
    EXPECT_TRUE(boxes.boxes().empty());
}

TEST_F(FerrowAppTest, AChangedConfigurationIsOfferedForSavingOnExit) {
    auto& app = start({});
    ferrow::CMainFrame& frame = *app.mainFrame();
    app.document()->SetModifiedFlag();

    boxes.answerNext(mb::Cancel);
    frame.close();
    ASSERT_EQ(boxes.boxes().size(), 1u);
    EXPECT_EQ(boxes.boxes()[0].text, QStringLiteral("Save changes to Untitled?"));
    EXPECT_EQ(boxes.boxes()[0].style & mb::ButtonMask, mb::YesNoCancel);
    EXPECT_TRUE(frame.isVisible());

    // Yes with the Save As dialog cancelled keeps the window too.
    boxes.answerNext(mb::Yes);
    boxes.cancelNextFile();
    frame.close();
    EXPECT_TRUE(frame.isVisible());
    ASSERT_EQ(boxes.fileDialogs().size(), 1u);
    EXPECT_EQ(boxes.fileDialogs()[0].fileName, QStringLiteral("Untitled.tdb"));

    const QString target = files + QStringLiteral("/saved");
    boxes.answerNext(mb::Yes);
    boxes.answerNextFile(target);
    frame.close();
    EXPECT_FALSE(frame.isVisible());
    EXPECT_TRUE(QFile::exists(target + QStringLiteral(".tdb")));
}

TEST_F(FerrowAppTest, SaveAsAndOpenSetTheCaptionAndTheRecentFiles) {
    auto& app = start({});
    ferrow::CMainFrame& frame = *app.mainFrame();
    const QString first = files + QStringLiteral("/first.tdb");
    boxes.answerNextFile(first);
    frame.actFileSaveAs->trigger();
    EXPECT_EQ(frame.windowTitle(), QStringLiteral("first.tdb - Morvane Ferrow Server"));
    ASSERT_EQ(boxes.fileDialogs().size(), 1u);
    EXPECT_EQ(boxes.fileDialogs()[0].filter,
              QStringLiteral("Tag Configuration Files (*.tdb)|*.tdb|All Files (*.*)|*.*"));

    const QString other = writeConfiguration(QStringLiteral("other.tdb"), {"Pump"});
    boxes.answerNextFile(other);
    frame.actFileOpen->trigger();
    EXPECT_EQ(frame.windowTitle(), QStringLiteral("other.tdb - Morvane Ferrow Server"));
    EXPECT_EQ(app.document()->DeviceCount(), 1u);

    // The recent files appear in the File menu, newest first, and open from there.
    emit frame.mnuFile->aboutToShow();
    QStringList recent;
    for (QAction* action : frame.mnuFile->actions())
        if (action->objectName().startsWith(QStringLiteral("ID_FILE_MRU_FILE"))) recent << action->text();
    ASSERT_EQ(recent.size(), 2);
    EXPECT_EQ(recent[0], QStringLiteral("&1 ") + other);
    EXPECT_EQ(recent[1], QStringLiteral("&2 ") + first);
    // Files change only while no device is connecting.
    ASSERT_TRUE(platform::ui::waitUntil([&] { return frame.m_pCommands->noDeviceConnecting(); }, 30s));
    frame.OnFileMruFile(1);
    EXPECT_EQ(frame.windowTitle(), QStringLiteral("first.tdb - Morvane Ferrow Server"));
    EXPECT_EQ(app.document()->DeviceCount(), 0u);

    frame.OnFileNew();
    EXPECT_EQ(frame.windowTitle(), QStringLiteral("Untitled - Morvane Ferrow Server"));
}

TEST_F(FerrowAppTest, NewAndOpenAreRefusedWhileClientsAreConnected) {
    auto& app = start({writeConfiguration(QStringLiteral("kept.tdb"), {"Kept"})});
    ferrow::CMainFrame& frame = *app.mainFrame();
    ASSERT_TRUE(platform::ui::waitUntil([&] { return frame.m_pCommands->noDeviceConnecting(); }, 30s));
    frame.UpdateCommandStates();
    ferrow::objectCount = 1;
    boxes.answerNextFile(writeConfiguration(QStringLiteral("other.tdb"), {"Other"}));
    frame.actFileOpen->trigger();
    frame.actFileNew->trigger();
    EXPECT_EQ(
        boxes.boxTexts(),
        (QStringList{QStringLiteral("Cannot change files while OPC Clients are connected to this server."),
                     QStringLiteral("Cannot change files while OPC Clients are connected to this server.")}));
    EXPECT_EQ(frame.windowTitle(), QStringLiteral("kept.tdb - Morvane Ferrow Server"));
    EXPECT_EQ(app.document()->DeviceCount(), 1u);
}

TEST_F(FerrowAppTest, FrameLayoutMenusAndPanes) {
    auto& app = start({});
    ferrow::CMainFrame& frame = *app.mainFrame();
    const QList<int> sizes = frame.m_wndSplitter->sizes();
    ASSERT_EQ(sizes.size(), 2);
    EXPECT_NEAR(sizes[0] * 2, sizes[1], 8);

    // The Edit menu carries every device command; there is no menu of their own.
    QStringList edit;
    for (QAction* action : frame.mnuEdit->actions()) edit << (action->isSeparator() ? "-" : action->text());
    EXPECT_EQ(edit, QStringList({"Cu&t", "&Copy", "&Paste", "-", "New &Device...", "&Delete",
                                 "Pr&operties...", "-", "Connect", "Simulate", "&Monitor"}));
    QStringList menus;
    for (QAction* menu : frame.menuBar()->actions()) menus << menu->text();
    EXPECT_EQ(menus, QStringList({"&File", "&Edit", "&View", "&Help"}));
    EXPECT_TRUE(frame.m_wndToolBar->actions().contains(frame.m_pCommands->newDevice));
    for (QAction* never : {frame.actEditCut, frame.actEditCopy, frame.actEditPaste}) {
        frame.UpdateCommandStates();
        EXPECT_FALSE(never->isEnabled()) << never->text().toStdString();
    }
    for (QAction* action : frame.m_wndToolBar->actions()) {
        if (action->isSeparator()) continue;
        EXPECT_FALSE(action->icon().isNull()) << action->text().toStdString();
    }

    EXPECT_EQ(frame.m_wndMessagePane->text(), QStringLiteral("Ready"));
    EXPECT_EQ(frame.m_wndMessagePane->accessibleName(), QString());
    frame.actViewStatusBar->trigger();
    EXPECT_FALSE(frame.m_wndMessagePane->isVisible());
    frame.actViewToolbar->trigger();
    EXPECT_FALSE(frame.m_wndToolBar->isVisible());
}

// Properties edits the device selected in the tree: while the tag list is where the user works, it is
// disabled and Ctrl+P opens nothing; back in the tree it is offered again.
TEST_F(FerrowAppTest, PropertiesIsDisabledWhileTheTagListHasTheFocus) {
    auto& app = start({});
    ferrow::CMainFrame& frame = *app.mainFrame();
    ferrow::ODevice* device = app.document()->AddDevice([](ferrow::ODevice& added) {
        const QStringList octets = testsupport::uniqueLoopbackAddress().split(QLatin1Char('.'));
        for (int i = 0; i < 4; ++i)
            added.m_params.m_strOctet[static_cast<std::size_t>(i)] = octets[i].toStdString();
        return true;
    });
    ASSERT_NE(device, nullptr);
    frame.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&frame));
    QAction* properties = frame.m_pCommands->properties;

    frame.m_pDeviceView->setFocus();
    ASSERT_TRUE(platform::ui::waitUntil([&] { return frame.m_pDeviceView->hasFocus(); }, 30s));
    frame.UpdateCommandStates();
    EXPECT_TRUE(properties->isEnabled());

    frame.m_pTagView->setFocus();
    ASSERT_TRUE(platform::ui::waitUntil([&] { return frame.m_pTagView->hasFocus(); }, 30s));
    frame.UpdateCommandStates();
    EXPECT_FALSE(properties->isEnabled());
    QTest::keyClick(frame.m_pTagView, Qt::Key_P, Qt::ControlModifier);
    properties->trigger();
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr);

    // Opening a menu takes the focus for a moment, but the tag list stays the view worked in.
    frame.mnuEdit->popup(frame.mapToGlobal(QPoint(10, 10)));
    EXPECT_FALSE(properties->isEnabled());
    frame.mnuEdit->close();

    frame.m_pDeviceView->setFocus();
    ASSERT_TRUE(platform::ui::waitUntil([&] { return frame.m_pDeviceView->hasFocus(); }, 30s));
    frame.UpdateCommandStates();
    EXPECT_TRUE(properties->isEnabled());
}

TEST_F(FerrowAppTest, TheSplashClosesAtTheFirstKeyAnywhereAndSwallowsIt) {
    auto& app = start({QStringLiteral("-Embedding")});
    ferrow::CSplashWnd::ShowSplashScreen();
    ferrow::CSplashWnd* splash = ferrow::CSplashWnd::current();
    ASSERT_NE(splash, nullptr);
    ferrow::CSplashWnd::ShowSplashScreen();
    EXPECT_EQ(ferrow::CSplashWnd::current(), splash);
    app.mainFrame()->showNormal();
    // Ctrl+N would ask to save the changed configuration, if it got through.
    app.document()->SetModifiedFlag();
    QTest::keyClick(app.mainFrame(), Qt::Key_N, Qt::ControlModifier);
    EXPECT_TRUE(platform::ui::waitUntil([] { return ferrow::CSplashWnd::current() == nullptr; }, 30s));
    EXPECT_TRUE(boxes.boxes().empty());
    app.document()->SetModifiedFlag(false);

    // Left alone it goes after its (scaled) three seconds.
    ferrow::CSplashWnd::ShowSplashScreen();
    EXPECT_NE(ferrow::CSplashWnd::current(), nullptr);
    EXPECT_TRUE(platform::ui::waitUntil([] { return ferrow::CSplashWnd::current() == nullptr; }, 30s));
}

TEST_F(FerrowAppTest, AFileThatCannotBeWrittenIsReportedAndChangesNothing) {
    auto& app = start({});
    ferrow::CMainFrame& frame = *app.mainFrame();
    app.document()->SetModifiedFlag();
    // The folder's place is taken by a file.
    QFile(files + QStringLiteral("/blocked")).open(QIODevice::WriteOnly);
    boxes.answerNextFile(files + QStringLiteral("/blocked/plant.tdb"));
    EXPECT_FALSE(frame.OnFileSaveAs());
    ASSERT_EQ(boxes.boxes().size(), 1u);
    EXPECT_TRUE(boxes.boxes()[0].text.startsWith(QStringLiteral("Cannot save ") + files +
                                                 QStringLiteral("/blocked/plant.tdb")));
    EXPECT_EQ(frame.windowTitle(), QStringLiteral("Untitled - Morvane Ferrow Server"));
    EXPECT_TRUE(app.document()->IsModified());
    app.document()->SetModifiedFlag(false);
}
