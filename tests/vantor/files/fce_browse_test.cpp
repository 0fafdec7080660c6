#include "vantor/files/fce_browse.h"

#include <gtest/gtest.h>

#include <QComboBox>
#include <QFile>
#include <QHeaderView>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>
#include <QtEndian>
#include <thread>

#include "devsim/file_commands.h"
#include "devsim/file_faults.h"
#include "platform/ui/scripted_dialogs.h"
#include "platform/ui/time_scale.h"
#include "platform/ui/wait.h"
#include "tests/support/device_fixture.h"
#include "tests/support/scripted_peer.h"
#include "tests/support/test_environment.h"
#include "tests/vantor/files/test_shell_host.h"

using namespace std::chrono_literals;
using testsupport::whenShown;
using vantor::files::FCEBrowse;

namespace {

QStringList names(const FCEBrowse& b) {
    QStringList list;
    for (int i = 0; i < b.lvList->topLevelItemCount(); ++i) list << b.lvList->topLevelItem(i)->text(0);
    return list;
}

QTreeWidgetItem* item(const FCEBrowse& b, const QString& name) {
    for (int i = 0; i < b.lvList->topLevelItemCount(); ++i)
        if (b.lvList->topLevelItem(i)->text(0) == name) return b.lvList->topLevelItem(i);
    return nullptr;
}

bool waitForItem(const FCEBrowse& b, const QString& name) {
    return platform::ui::waitUntil([&] { return item(b, name) != nullptr; }, 30s);
}

class BrowseTest : public ::testing::Test {
  protected:
    void SetUp() override {
        platform::setTimeScale(0.05);
        device = testsupport::startDevice();
        ASSERT_TRUE(device);
        ASSERT_TRUE(host.connectTo(device->options().address));
    }
    void TearDown() override { platform::setTimeScale(1.0); }

    void setTime(const QString& devicePath, const QDateTime& time) {
        QFile f(*device->files().hostPath(devicePath));
        ASSERT_TRUE(f.open(QIODevice::ReadWrite));
        ASSERT_TRUE(f.setFileTime(time, QFileDevice::FileModificationTime));
    }

    std::unique_ptr<devsim::SimulatedDevice> device;
    testsupport::TestShellHost host;
    platform::ui::ScriptedDialogs dialogs;
};

TEST_F(BrowseTest, RootListingShowsFoldersFilesAndTheFlashFreeBytesThenOpenGivesTrue) {
    FCEBrowse browser(host);
    whenShown(&browser, [&] {
        ASSERT_TRUE(waitForItem(browser, QStringLiteral("Readme.txt")));
        EXPECT_EQ(browser.windowTitle(), "Directory view (CE)");
        QTreeWidgetItem* flash = item(browser, QStringLiteral("MorvFlash"));
        ASSERT_TRUE(flash);
        EXPECT_TRUE(
            QRegularExpression(QStringLiteral("^ *\\d+ Byte free$")).match(flash->text(1)).hasMatch());
        EXPECT_GE(flash->text(1).size(), 8 + 10);  // at least eight places for the number
        EXPECT_EQ(item(browser, QStringLiteral("Windows"))->text(1), " ");
        QTreeWidgetItem* readme = item(browser, QStringLiteral("Readme.txt"));
        EXPECT_EQ(readme->text(1), "        31 Byte");
        EXPECT_EQ(readme->text(3), "A");
        EXPECT_EQ(browser.cmbPath->currentText(), "");
        browser.cmdOpen->click();
    });
    EXPECT_TRUE(browser.ShowOpen());
    EXPECT_EQ(browser.FilePath(), "\\");
    EXPECT_TRUE(dialogs.boxes().empty());
}

TEST_F(BrowseTest, UpDirDoesNothingAtTheRootAndListsTheParentOneLevelDown) {
    FCEBrowse browser(host);
    whenShown(&browser, [&] {
        ASSERT_TRUE(waitForItem(browser, QStringLiteral("Windows")));
        browser.cmdUpDir->click();
        EXPECT_EQ(browser.FilePath(), "\\");
        browser.lvList_DblClick(item(browser, QStringLiteral("Windows")));
        ASSERT_TRUE(waitForItem(browser, QStringLiteral("Startup.txt")));
        EXPECT_EQ(browser.FilePath(), "\\Windows\\");
        EXPECT_EQ(browser.cmbPath->currentText(), "\\Windows");
        browser.cmdUpDir->click();
        ASSERT_TRUE(waitForItem(browser, QStringLiteral("Windows")));
        EXPECT_EQ(browser.FilePath(), "\\");
        // The path box offers every folder seen; its first entry "." lists ".\".
        EXPECT_EQ(browser.cmbPath->itemText(0), ".");
        browser.cmbPath_Click(0);
        ASSERT_TRUE(waitForItem(browser, QStringLiteral("Readme.txt")));
        EXPECT_EQ(browser.FilePath(), ".\\");
        browser.cmdCancel->click();
    });
    EXPECT_FALSE(browser.ShowOpen());
    int dirs = 0;
    for (const std::string& line : device->log().entries())
        if (line.find("< dir ") != std::string::npos) ++dirs;
    EXPECT_EQ(dirs, 4);  // first listing, Windows, up, "." - not the click at the root
}

TEST_F(BrowseTest, DateColumnSortsAscendingThenDescendingAndFoldersStayOpenable) {
    device->run([&] {
        for (const char* n : {"\\Temp\\old.txt", "\\Temp\\new.txt", "\\Temp\\mid.txt"}) {
            QFile f(*device->files().hostPath(QLatin1String(n)));
            f.open(QIODevice::WriteOnly);
        }
        QDir(*device->files().hostPath(QStringLiteral("\\Temp"))).mkdir(QStringLiteral("Sub"));
    });
    setTime(QStringLiteral("\\Temp\\old.txt"), QDateTime(QDate(1998, 5, 1), QTime(10, 0)));
    setTime(QStringLiteral("\\Temp\\new.txt"), QDateTime(QDate(2024, 1, 2), QTime(8, 0)));
    setTime(QStringLiteral("\\Temp\\mid.txt"), QDateTime(QDate(2010, 6, 3), QTime(9, 0)));
    FCEBrowse browser(host);
    whenShown(&browser, [&] {
        ASSERT_TRUE(waitForItem(browser, QStringLiteral("Temp")));
        browser.lvList_DblClick(item(browser, QStringLiteral("Temp")));
        ASSERT_TRUE(waitForItem(browser, QStringLiteral("old.txt")));
        emit browser.lvList->header()->sectionClicked(2);
        QStringList files = names(browser).filter(QStringLiteral(".txt"));
        EXPECT_EQ(files, (QStringList{"old.txt", "mid.txt", "new.txt"}));
        emit browser.lvList->header()->sectionClicked(2);
        files = names(browser).filter(QStringLiteral(".txt"));
        EXPECT_EQ(files, (QStringList{"new.txt", "mid.txt", "old.txt"}));
        browser.lvList_DblClick(item(browser, QStringLiteral("Sub")));
        ASSERT_TRUE(platform::ui::waitUntil([&] { return browser.FilePath() == "\\Temp\\Sub\\"; }, 30s));
        browser.cmdOpen->click();
    });
    EXPECT_TRUE(browser.ShowOpen());
}

TEST_F(BrowseTest, DoubleClickOnAFileGivesTrueWithItsNameAndCloseBoxGivesFalse) {
    FCEBrowse browser(host);
    whenShown(&browser, [&] {
        ASSERT_TRUE(waitForItem(browser, QStringLiteral("Readme.txt")));
        browser.lvList_DblClick(item(browser, QStringLiteral("Readme.txt")));
    });
    EXPECT_TRUE(browser.ShowOpen());
    EXPECT_EQ(browser.FileName(), "Readme.txt");
    whenShown(&browser, [&] { browser.close(); });
    EXPECT_FALSE(browser.ShowDelete());
    EXPECT_EQ(browser.FileName(), "");  // every opening starts afresh
}

TEST_F(BrowseTest, NewFolderAndDeleteActOnTheListedFolder) {
    FCEBrowse browser(host);
    whenShown(&browser, [&] {
        ASSERT_TRUE(waitForItem(browser, QStringLiteral("Temp")));
        QTest::keyClicks(browser.txtFileName, QStringLiteral("Made"));
        browser.cmdMkDir->click();
        ASSERT_TRUE(waitForItem(browser, QStringLiteral("Made")));
        browser.lvList->setCurrentItem(item(browser, QStringLiteral("Made")));
        browser.cmdDel->click();
        ASSERT_TRUE(platform::ui::waitUntil([&] { return !item(browser, QStringLiteral("Made")); }, 30s));
        QTreeWidgetItem* readme = item(browser, QStringLiteral("Readme.txt"));
        browser.lvList->setCurrentItem(readme);
        browser.lvList_Click(readme);
        browser.cmdDel->click();
        ASSERT_TRUE(
            platform::ui::waitUntil([&] { return !item(browser, QStringLiteral("Readme.txt")); }, 30s));
        browser.cmdOpen->click();
    });
    browser.ShowOpen();
    EXPECT_TRUE(device->log().contains("< makedir \\Made"));
    EXPECT_TRUE(device->log().contains("< deldir \\Made"));
    EXPECT_TRUE(device->log().contains("< delfile \\Readme.txt"));
    EXPECT_FALSE(QFile::exists(*device->files().hostPath(QStringLiteral("\\Readme.txt"))));
}

TEST_F(BrowseTest, ASilentDeviceTimesOutAndAFailedLaterListingKeepsListAndPath) {
    devsim::FileFaults& faults = devsim::fileFaults(*device);
    FCEBrowse browser(host);
    whenShown(&browser, [&] {
        ASSERT_TRUE(waitForItem(browser, QStringLiteral("Windows")));
        faults.silenceAfterBytes = 0;
        browser.lvList_DblClick(item(browser, QStringLiteral("Windows")));
        EXPECT_EQ(dialogs.boxTexts(), QStringList{"*** ERROR: Timeout for Dir lookup"});
        EXPECT_TRUE(item(browser, QStringLiteral("Readme.txt")));
        EXPECT_EQ(browser.FilePath(), "\\");
        browser.cmdOpen->click();
    });
    EXPECT_TRUE(browser.ShowOpen());
    // The first listing failing: the dialog is not shown and the answer is true.
    dialogs.clear();
    EXPECT_TRUE(browser.ShowOpen());
    EXPECT_EQ(dialogs.boxTexts(), QStringList{"*** ERROR: Timeout for Dir lookup"});
    EXPECT_EQ(browser.FilePath(), "\\");
}

TEST(BrowseWire, RepeatedNamesAndACutLastRecordNeverBreakTheList) {
    platform::ui::ScriptedDialogs dialogs;
    const QString address = testsupport::uniqueLoopbackAddress();
    platform::setTimeScale(0.05);
    testsupport::ScriptedPeer peer(address, 4212);
    testsupport::TestShellHost host;
    ASSERT_TRUE(host.connectTo(address));
    auto record = [](quint32 attributes, const QByteArray& name) {
        QByteArray r(24, '\0');
        qToLittleEndian(attributes, r.data());
        qToLittleEndian<quint16>(2020, r.data() + 8);
        qToLittleEndian<quint16>(1, r.data() + 10);
        qToLittleEndian<quint16>(1, r.data() + 14);
        return r + name + '\0';
    };
    FCEBrowse browser(host);
    whenShown(&browser, [&] {
        ASSERT_TRUE(waitForItem(browser, QStringLiteral("b")));
        EXPECT_EQ(names(browser), (QStringList{"a", "D", "b"}));
        // The peer answers no further listing: the list and its path stay.
        browser.lvList_DblClick(item(browser, QStringLiteral("D")));
        EXPECT_EQ(browser.FilePath(), "\\");
        EXPECT_EQ(dialogs.boxTexts(), QStringList{"*** ERROR: Timeout for Dir lookup"});
        browser.cmdCancel->click();
    });
    QTimer::singleShot(0, [&] {
        ASSERT_TRUE(peer.waitForConnections(2));
        EXPECT_TRUE(peer.waitForReceived("dir \\\r\n", 0));
        peer.send(record(0x20, "\\a") + record(0x10, "\\D") + record(0x20, "\\a") + record(0x10, "\\D") +
                      record(0x20, "\\b") + record(0x20, "\\cut").left(27),
                  1);
        peer.close(1);
    });
    EXPECT_FALSE(browser.ShowOpen());
    platform::setTimeScale(1.0);
}

TEST(BrowseWire, AListingThatNeverEndsIsCutOffAtItsLimitAndTheListStays) {
    platform::ui::ScriptedDialogs dialogs;
    const QString address = testsupport::uniqueLoopbackAddress();
    testsupport::ScriptedPeer peer(address, 4212);
    testsupport::TestShellHost host;
    ASSERT_TRUE(host.connectTo(address));
    QByteArray folder(24, '\0');
    qToLittleEndian<quint32>(0x10, folder.data());
    folder += QByteArray("\\D") + '\0';
    FCEBrowse browser(host);
    std::thread device([&] {
        ASSERT_TRUE(peer.waitForConnections(2));
        peer.send(folder, 1);
        peer.close(1);
        // The listing of \D goes on and on, and its connection stays open.
        ASSERT_TRUE(peer.waitForConnections(3));
        const QByteArray piece(1024 * 1024, 'z');
        for (qsizetype sent = 0; sent <= FCEBrowse::kMaxListing && !peer.peerClosed(2); sent += piece.size())
            peer.send(piece, 2);
    });
    whenShown(&browser, [&] {
        ASSERT_TRUE(waitForItem(browser, QStringLiteral("D")));
        browser.lvList_DblClick(item(browser, QStringLiteral("D")));
        EXPECT_TRUE(platform::ui::waitUntil([&] { return !dialogs.boxes().empty(); }, 60s));
        EXPECT_EQ(dialogs.boxTexts(), QStringList{"*** ERROR: Timeout for Dir lookup"});
        EXPECT_TRUE(peer.waitForPeerClose(2));
        EXPECT_EQ(names(browser), QStringList{"D"});
        EXPECT_EQ(browser.FilePath(), "\\");
        browser.cmdCancel->click();
    });
    EXPECT_FALSE(browser.ShowOpen());
    device.join();
}

}  // namespace
