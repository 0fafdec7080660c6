#pragma once

#include <QDialog>

#include "vantor/common/shell_host.h"
#include "vantor/files/data_connection.h"

class QLineEdit;
class QProgressBar;
class QPushButton;

namespace platform::ui {
class StatusBar;
}

namespace vantor::files {

class FCEBrowse;

// Copies one file from the device to the PC: "getfile" over the shell, the size line and the bytes over
// the window's own data connection, each batch acknowledged with "ack". The bytes go straight to a
// temporary file beside the destination, which replaces the destination only when the announced size
// has arrived. UI thread only.
class FDownload : public QDialog, public NotifyClient {
    Q_OBJECT
  public:
    FDownload(ShellHost& host, FCEBrowse& browser, QWidget* parent = nullptr);

    // As FUpload::Start: a copy still running behind the hidden window gets its window back.
    void Start();
    void begin();  // Start() without the modal loop
    void Notify(const QString& msg, const QString& data) override;

    QLineEdit* txtSource;
    QLineEdit* txtDest;
    QPushButton* cmdCEBrowse;
    QPushButton* cmdBrowse;
    QPushButton* cmdCopy;
    QPushButton* cmdDone;
    QProgressBar* pbProgress;
    platform::ui::StatusBar* sbCopyMsg;
    DataConnection data;  // sckCopy and copyBuffer

    void cmdCEBrowse_Click();
    void cmdBrowse_Click();
    void cmdCopy_Click();
    void cmdDone_Click();

    bool copying() const { return copying_; }
    // The close box and Escape, and the main window's Exit: the copy ends, the data connection closes.
    void reject() override;

  private:
    void CopyFileFromDevice(const QString& source, const QString& destination);

    ShellHost& host_;
    FCEBrowse& browser_;
    NotifySubscription notifyHandle_{host_};
    QString lastDestPath_;
    bool closing_ = false;
    bool copying_ = false;  // the Copy button's handler runs
    bool shellFailed_ = false;
};

}  // namespace vantor::files
