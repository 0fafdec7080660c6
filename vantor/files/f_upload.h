#pragma once

#include "vantor/files/copy_window.h"

class QCheckBox;
class QPushButton;

namespace vantor::files {

class FCEBrowse;

// Copies one PC file, or every file a pattern matches, to the device: the command goes over the shell,
// the bytes over the window's own data connection in acknowledged 1024-byte blocks, one in flight.
// Reads the file block by block, so memory does not grow with its size. UI thread only.
class FUpload : public CopyWindow {
    Q_OBJECT
  public:
    FUpload(ShellHost& host, FCEBrowse& browser, QWidget* parent = nullptr);

    void Notify(const QString& msg, const QString& data) override;

    QPushButton* cmdBrowse;
    QPushButton* cmdCEBrowse;
    QCheckBox* chkExec;
    QCheckBox* chkAutoStart;

    void cmdBrowse_Click();
    void cmdCEBrowse_Click();
    void txtSource_LostFocus();
    void cmdCopy_Click();
    void cmdDone_Click();

    bool copyRunning() const { return copyRunning_; }
    // As CopyWindow::reject, and a loop over several files stops too.
    void reject() override;

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    void CopyFileToDevice(const QString& source, const QString& destination);
    void sendBlocks(const QString& source);
    // Reports why a wait for the device ended without its answer; false when the window is going away.
    void reportLostDevice(DataConnection::WaitResult result);

    bool copyRunning_ = false;
};

}  // namespace vantor::files
