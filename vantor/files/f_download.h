#pragma once

#include <QString>

#include "vantor/files/copy_window.h"

class QPushButton;

namespace vantor::files {

class FCEBrowse;

// Copies one file from the device to the PC: "getfile" over the shell, the size line and the bytes over
// the window's own data connection, each batch acknowledged with "ack". The bytes go straight to a
// temporary file beside the destination, which replaces the destination only when the announced size
// has arrived. UI thread only.
class FDownload : public CopyWindow {
    Q_OBJECT
  public:
    FDownload(ShellHost& host, FCEBrowse& browser, QWidget* parent = nullptr);

    void Notify(const QString& msg, const QString& data) override;

    QPushButton* cmdCEBrowse;
    QPushButton* cmdBrowse;

    void cmdCEBrowse_Click();
    void cmdBrowse_Click();
    void cmdCopy_Click();
    void cmdDone_Click();

  private:
    void CopyFileFromDevice(const QString& source, const QString& destination);

    QString lastDestPath_;
    bool shellFailed_ = false;
};

}  // namespace vantor::files
