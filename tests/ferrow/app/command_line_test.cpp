#include "ferrow/app/command_line.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

using ferrow::RegistrationRequest;
using ferrow::registrationRequest;

namespace {
QStringList args(const char* line) {
    return QString::fromLatin1(line).split(QLatin1Char(' '), Qt::SkipEmptyParts);
}
}  // namespace

TEST(CommandLineTokens, SplitAtDashSlashAndBlank) {
    EXPECT_EQ(
        ferrow::commandLineTokens({QStringLiteral("-a/b"), QStringLiteral("c--d")}),
        (QStringList{QStringLiteral("a"), QStringLiteral("b"), QStringLiteral("c"), QStringLiteral("d")}));
    EXPECT_TRUE(ferrow::commandLineTokens({}).isEmpty());
}

TEST(CommandLineTokens, RegServerInEveryCaseAndAfterEverySeparator) {
    for (const char* line : {"-RegServer", "/RegServer", "-regserver", "/REGSERVER", "-x/rEgSeRvEr",
                             "file.tdb -RegServer", "-Embedding -RegServer", "-Embedding/RegServer"})
        EXPECT_EQ(registrationRequest(args(line)), RegistrationRequest::Register) << line;
    for (const char* line : {"-UnregServer", "/unregserver", "-UNREGSERVER", "/a-UnRegServer"})
        EXPECT_EQ(registrationRequest(args(line)), RegistrationRequest::Unregister) << line;
    // A blank inside one argument separates as well.
    EXPECT_EQ(registrationRequest({QStringLiteral("-x RegServer")}), RegistrationRequest::Register);
}

// The words count only in switches: an argument that does not start with "-" or "/", or that names an
// existing file, is a file name whatever it contains.
TEST(CommandLineTokens, FileNamesCarryNoRegistrationWords) {
    for (const char* line :
         {"RegServer", "UNREGSERVER", "x/rEgSeRvEr", "a-UnRegServer", "plant-RegServer.tdb"})
        EXPECT_EQ(registrationRequest(args(line)), RegistrationRequest::None) << line;
    QTemporaryDir root;
    ASSERT_TRUE(root.isValid());
    ASSERT_TRUE(QDir(root.path()).mkpath(QStringLiteral("RegServer")));
    const QString file = root.path() + QStringLiteral("/RegServer/x.tdb");
    QFile(file).open(QIODevice::WriteOnly);
    EXPECT_EQ(registrationRequest({file}), RegistrationRequest::None);
    EXPECT_EQ(registrationRequest({file, QStringLiteral("-UnregServer")}), RegistrationRequest::Unregister);
    EXPECT_EQ(ferrow::parseShellCommand({file}).fileName, file);
}

TEST(CommandLineTokens, FirstRegistrationWordDecides) {
    EXPECT_EQ(registrationRequest(args("-UnregServer -RegServer")), RegistrationRequest::Unregister);
    EXPECT_EQ(registrationRequest(args("/RegServer /UnregServer")), RegistrationRequest::Register);
}

TEST(CommandLineTokens, OtherWordsAskForNothing) {
    for (const char* line : {"", "-Embedding", "RegServers", "-Reg-Server", "Unreg", "/home/RegServerX.tdb"})
        EXPECT_EQ(registrationRequest(args(line)), RegistrationRequest::None) << line;
}

TEST(ShellCommand, ComSwitchesTurnTheSplashOff) {
    EXPECT_TRUE(ferrow::parseShellCommand({}).showSplash());
    for (const char* line : {"-Embedding", "/embedding", "-Automation", "/AUTOMATION"}) {
        const auto command = ferrow::parseShellCommand(args(line));
        EXPECT_TRUE(command.startedByCom()) << line;
        EXPECT_FALSE(command.showSplash()) << line;
        EXPECT_TRUE(command.fileName.isEmpty()) << line;
    }
}

TEST(ShellCommand, FirstNonFlagArgumentIsTheFile) {
    auto command = ferrow::parseShellCommand(args("-Embedding /home/user/plant.tdb other.tdb"));
    EXPECT_TRUE(command.embedding);
    EXPECT_EQ(command.fileName, QStringLiteral("/home/user/plant.tdb"));
    command = ferrow::parseShellCommand(args("plant.tdb"));
    EXPECT_EQ(command.fileName, QStringLiteral("plant.tdb"));
    EXPECT_TRUE(command.showSplash());
}
