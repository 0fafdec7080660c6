#pragma once

#include <QDialog>

#include "vantor/common/shell_host.h"
#include "vantor/files/data_connection.h"

class QCheckBox;
class QLineEdit;
class QProgressBar;
class QPushButton;

namespace platform::ui {
class StatusBar;
}

namespace vantor::files {

class FCEBrowse;

// Copies one PC file, or every file a pattern matches, to the device: the command goes over the shell,
// the bytes over the window's own data connection in acknowledged 1024-byte blocks, one in flight.
// Reads the file block by block, so memory does not grow with its size. UI thread only.
class FUpload : public QDialog, public NotifyClient {
    Q_OBJECT
  public:
    FUpload(ShellHost& host, FCEBrowse& browser, QWidget* parent = nullptr);

    // Registers for shell notifications and shows the window modally. While a copy of this window still
    // runs (hidden by Abort), shows the window again instead: the copy goes on where it is.
    void Start();
    // Start() without the modal loop, for callers that show the window themselves.
    void begin();
    void Notify(const QString& msg, const QString& data) override;

    QLineEdit* txtSource;
    QLineEdit* txtDest;
    QPushButton* cmdBrowse;
    QPushButton* cmdCEBrowse;
    QCheckBox* chkExec;
    QCheckBox* chkAutoStart;
    QPushButton* cmdCopy;
    QPushButton* cmdDone;
    QProgressBar* pbProgress;
    platform::ui::StatusBar* sbCopyMsg;
    DataConnection data;  // sckCopy and copyBuffer

    void cmdBrowse_Click();
    void cmdCEBrowse_Click();
    void txtSource_LostFocus();
    void cmdCopy_Click();
    void cmdDone_Click();

    bool copyRunning() const { return copyRunning_; }
    bool copying() const { return copying_; }
    // The close box and Escape, and the main window's Exit: a copy under way ends, its data connection
    // closes, and the registration ends.
    void reject() override;

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    void CopyFileToDevice(const QString& source, const QString& destination);
    void sendBlocks(const QString& source);
    // Reports why a wait for the device ended without its answer; false when the window is going away.
    void reportLostDevice(DataConnection::WaitResult result);

    ShellHost& host_;
    FCEBrowse& browser_;
    NotifySubscription notifyHandle_{host_};
    bool copyRunning_ = false;
    bool copying_ = false;  // the Copy button's handler runs
    bool closing_ = false;
};

}  // namespace vantor::files
