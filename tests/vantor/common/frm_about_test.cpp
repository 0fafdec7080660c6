#include "vantor/common/frm_about.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QLabel>
#include <QPushButton>
#include <QTimer>

#include "platform/settings/registry_store.h"
#include "platform/ui/scripted_dialogs.h"
#include "platform/ui/wait.h"
#include "tests/support/test_environment.h"
#include "vantor/common/registry_value.h"

using namespace std::chrono_literals;
using platform::RegistryStore;
using vantor::frmAbout;

namespace {
class AboutBox : public ::testing::Test {
  protected:
    void SetUp() override { testsupport::resetFolders(); }
    platform::ui::ScriptedDialogs dialogs;
    RegistryStore registry;
};

// Waits for a file another process makes (no event of ours announces it).
bool waitForFile(const QString& path) {
    QTimer poll;
    poll.start(20);
    return platform::ui::waitUntil([&] { return QFile::exists(path); }, 30s);
}

// A program that leaves a mark when it runs.
QString markingProgram(const QString& folder, const QString& mark) {
    const QString path = folder + "/sysinfo.sh";
    QFile file(path);
    EXPECT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(("#!/bin/sh\ntouch '" + mark + "'\n").toUtf8());
    file.close();
    file.setPermissions(file.permissions() | QFileDevice::ExeOwner);
    return path;
}
}  // namespace

TEST_F(AboutBox, ShowsTitleVersionAndMaker) {
    frmAbout about;
    EXPECT_EQ(about.windowTitle(), "About Vantor");
    EXPECT_EQ(about.lblTitle->text(), "Vantor");
    EXPECT_TRUE(about.lblVersion->text().startsWith("Version "));
    EXPECT_EQ(about.Label3->text(), "Morvane GmbH");
    EXPECT_EQ(about.cmdSysInfo->text(), "&System Info...");
    EXPECT_FALSE(about.Picture1->pixmap().isNull());
}

TEST_F(AboutBox, WithoutARegisteredProgramSysInfoSaysSo) {
    frmAbout about;
    about.cmdSysInfo->click();
    EXPECT_EQ(dialogs.boxTexts(), QStringList{"System Information Is Unavailable At This Time"});
}

TEST_F(AboutBox, StartsTheProgramNamedInTheRegistry) {
    const QString folder = testsupport::freshFolder("sysinfo");
    const QString mark = folder + "/ran";
    registry.setString(RegistryStore::Root::LocalMachine, frmAbout::kSysInfoKey, "PATH",
                       markingProgram(folder, mark));
    frmAbout about;
    about.cmdSysInfo->click();
    EXPECT_TRUE(waitForFile(mark));
    EXPECT_TRUE(dialogs.boxes().empty());
}

TEST_F(AboutBox, FallsBackToTheProgramInTheRegisteredFolder) {
    const QString folder = testsupport::freshFolder("sysinfo");
    const QString mark = folder + "/ran";
    QFile::rename(markingProgram(folder, mark), folder + "/MSINFO32.EXE");
    registry.setString(RegistryStore::Root::LocalMachine, frmAbout::kSysInfoLocationKey, "MSINFO", folder);
    frmAbout about;
    about.cmdSysInfo->click();
    EXPECT_TRUE(waitForFile(mark));

    // A folder without the program is no better than nothing.
    registry.setString(RegistryStore::Root::LocalMachine, frmAbout::kSysInfoLocationKey, "MSINFO",
                       folder + "/none");
    about.cmdSysInfo->click();
    EXPECT_EQ(dialogs.boxTexts(), QStringList{"System Information Is Unavailable At This Time"});
}

TEST(GetKeyValue, ReadsStringsAndDwordsAndFailsOtherwise) {
    testsupport::resetFolders();
    RegistryStore registry;
    const auto root = RegistryStore::Root::LocalMachine;
    registry.setString(root, "SOFTWARE\\Test", "Text", QString("abc") + QChar(u'\0') + "rest");
    registry.setDword(root, "SOFTWARE\\Test", "Number", 0x00010203);
    QString value = "stale";
    EXPECT_TRUE(vantor::GetKeyValue(registry, root, "software\\test", "Text", value));
    EXPECT_EQ(value, "abc");
    EXPECT_TRUE(vantor::GetKeyValue(registry, root, "SOFTWARE\\Test", "Number", value));
    EXPECT_EQ(value, "&h00010203");
    EXPECT_FALSE(vantor::GetKeyValue(registry, root, "SOFTWARE\\Test", "Missing", value));
    EXPECT_EQ(value, "");
    registry.setString(root, "SOFTWARE\\Test", "Long", QString(2000, 'x'));
    EXPECT_FALSE(vantor::GetKeyValue(registry, root, "SOFTWARE\\Test", "Long", value));
}
