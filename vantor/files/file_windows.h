#pragma once

#include <QObject>
#include <memory>

class QWidget;

namespace vantor {
class ShellHost;
}

namespace vantor::files {

class FCEBrowse;
class FUpload;
class FDownload;

// The file windows of a main window, made on first use and kept for the program's run: one directory
// browser that the copy windows share (so its last folder carries over), the copy-to-device and the
// copy-from-device window. Lives as a child of the main window, which destroys it first, while the
// windows' subscriptions can still be ended. UI thread only.
class FileWindows : public QObject {
    Q_OBJECT
  public:
    static FileWindows& of(ShellHost& host, QWidget* mainWindow);
    // The main window's file windows, or null when none was made yet.
    static FileWindows* find(QWidget* mainWindow);
    ~FileWindows() override;

    // Closes the copy windows, visible or not: a copy still running (behind a hidden window) ends and its
    // data connection closes.
    void endCopies();

    FCEBrowse& browser();
    FUpload& upload();
    FDownload& download();

  private:
    FileWindows(ShellHost& host, QWidget* mainWindow);

    ShellHost& host_;
    QWidget* mainWindow_;
    std::unique_ptr<FCEBrowse> browser_;
    std::unique_ptr<FUpload> upload_;
    std::unique_ptr<FDownload> download_;
};

}  // namespace vantor::files
