#pragma once

#include <QString>
#include <QStringList>

namespace ferrow {

// What the registration switches ask for: the first of the two words in the command line decides.
enum class RegistrationRequest { None, Register, Unregister };

// The raw command line (the arguments after the program's name, joined by blanks) cut at every "-",
// "/" and blank; empty pieces dropped.
QStringList commandLineTokens(const QStringList& arguments);
// "RegServer" / "UnregServer" in any case, whichever separator precedes it, in the arguments that start
// with "-" or "/" and are not an existing file.
RegistrationRequest registrationRequest(const QStringList& arguments);

// The framework's own reading of the command line: flags start with "-" or "/", the first other
// argument names the file to open. COM starts the program with "Embedding" or "Automation".
struct ShellCommand {
    QString fileName;
    bool embedding = false;
    bool automation = false;

    bool startedByCom() const { return embedding || automation; }
    bool showSplash() const { return !startedByCom(); }
};
ShellCommand parseShellCommand(const QStringList& arguments);

}  // namespace ferrow
