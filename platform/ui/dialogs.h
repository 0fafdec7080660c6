#pragma once

#include <QString>
#include <stdexcept>

namespace platform::ui {

// The classic message-box style: one button set plus one icon, or'ed together.
namespace mb {
inline constexpr int OkOnly = 0;
inline constexpr int OkCancel = 1;
inline constexpr int AbortRetryIgnore = 2;
inline constexpr int YesNoCancel = 3;
inline constexpr int YesNo = 4;
inline constexpr int RetryCancel = 5;
inline constexpr int ButtonMask = 0x0F;

inline constexpr int Critical = 16;
inline constexpr int Question = 32;
inline constexpr int Exclamation = 48;
inline constexpr int Information = 64;
inline constexpr int IconMask = 0x70;

// Answers.
inline constexpr int Ok = 1;
inline constexpr int Cancel = 2;
inline constexpr int Abort = 3;
inline constexpr int Retry = 4;
inline constexpr int Ignore = 5;
inline constexpr int Yes = 6;
inline constexpr int No = 7;
}  // namespace mb

struct MessageBoxRequest {
    QString text;
    int style = mb::OkOnly;
    QString title;  // empty: the application's title
};

// The common open/save dialog.
struct FileDialogRequest {
    enum class Kind { Open, Save };
    Kind kind = Kind::Open;
    QString title;
    QString filter;  // "Text files (*.txt)|*.txt|All files (*.*)|*.*" pairs, as the programs write them
    QString initialFolder;  // empty: the current folder
    QString fileName;       // proposed name
    bool overwritePrompt = false;
    bool fileMustExist = false;
    bool cancelRaises = false;  // Cancel throws DialogCancelled instead of returning an empty path
};

// Thrown by fileDialog() on Cancel when the request asked for it.
class DialogCancelled : public std::runtime_error {
  public:
    DialogCancelled() : std::runtime_error("Cancel was selected.") {}
};

// Everything a window shows modally goes through this interface, so tests can answer it from a script.
class Dialogs {
  public:
    virtual ~Dialogs() = default;
    virtual int messageBox(const MessageBoxRequest& request) = 0;
    // The chosen path, or empty text when the user cancelled (unless cancelRaises is set).
    virtual QString fileDialog(const FileDialogRequest& request) = 0;
};

// The implementation in use: the Qt one unless a test installed another.
Dialogs& dialogs();
// Installs `replacement` (not owned); nullptr puts the Qt implementation back.
void setDialogs(Dialogs* replacement);

// Shorthands used by the windows.
int msgBox(const QString& text, int style = mb::OkOnly, const QString& title = {});

// The application's title, as message boxes and the settings store use it.
QString appTitle();

}  // namespace platform::ui
