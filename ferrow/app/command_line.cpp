#include "ferrow/app/command_line.h"

#include <QFileInfo>
#include <QRegularExpression>

namespace ferrow {

QStringList commandLineTokens(const QStringList& arguments) {
    static const QRegularExpression separators(QStringLiteral("[-/ ]"));
    return arguments.join(QLatin1Char(' ')).split(separators, Qt::SkipEmptyParts);
}

RegistrationRequest registrationRequest(const QStringList& arguments) {
    // Only switches carry the words: "ferrow /srv/RegServer/x.tdb" opens that file, and a file name
    // is never a switch.
    QStringList switches;
    for (const QString& argument : arguments)
        if ((argument.startsWith(QLatin1Char('-')) || argument.startsWith(QLatin1Char('/'))) &&
            !QFileInfo::exists(argument))
            switches << argument;
    for (const QString& token : commandLineTokens(switches)) {
        if (token.compare(QLatin1String("UnregServer"), Qt::CaseInsensitive) == 0)
            return RegistrationRequest::Unregister;
        if (token.compare(QLatin1String("RegServer"), Qt::CaseInsensitive) == 0)
            return RegistrationRequest::Register;
    }
    return RegistrationRequest::None;
}

namespace {
// A POSIX path starts with "/" too: "/Embedding" is a flag, "/home/a.tdb" or an existing "/a.tdb" is a file.
bool isFlag(const QString& argument) {
    if (argument.size() < 2) return false;
    if (argument.front() == QLatin1Char('-')) return true;
    return argument.front() == QLatin1Char('/') && !argument.mid(1).contains(QLatin1Char('/')) &&
           !QFileInfo::exists(argument);
}
}  // namespace

ShellCommand parseShellCommand(const QStringList& arguments) {
    ShellCommand command;
    for (const QString& argument : arguments) {
        if (isFlag(argument)) {
            const QString name = argument.mid(1);
            if (name.compare(QLatin1String("Embedding"), Qt::CaseInsensitive) == 0) command.embedding = true;
            if (name.compare(QLatin1String("Automation"), Qt::CaseInsensitive) == 0)
                command.automation = true;
            continue;
        }
        if (command.fileName.isEmpty()) command.fileName = argument;
    }
    return command;
}

}  // namespace ferrow
