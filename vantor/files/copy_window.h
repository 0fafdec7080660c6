#pragma once

#include <QDialog>
#include <QString>

#include "vantor/common/shell_host.h"
#include "vantor/files/data_connection.h"

class QCheckBox;
class QGridLayout;
class QLineEdit;
class QProgressBar;
class QPushButton;

namespace platform::ui {
class StatusBar;
}

namespace vantor::files {

class FCEBrowse;

// What both copy windows share: the controls, laid out the same way (source and destination rows with
// their "..." buttons, Copy and Done, the progress bar (hidden) and the status bar ("Ready")), the data
// connection of their own, the registration for the shell's messages while shown, and the way a copy
// still running behind the hidden window gets its window back. UI thread only.
class CopyWindow : public QDialog, public NotifyClient {
    Q_OBJECT
  public:
    // Registers for shell notifications and shows the window modally. While a copy of this window still
    // runs (hidden by Abort), shows the window again instead: the copy goes on where it is (exec()
    // cannot nest).
    void Start();
    // Start() without the modal loop, for callers that show the window themselves.
    void begin();

    bool copying() const { return copying_; }
    // The close box and Escape, and the main window's Exit: a copy under way ends, its data connection
    // closes, and the registration ends.
    void reject() override;

    QLineEdit* txtSource;
    QLineEdit* txtDest;
    QPushButton* cmdCopy;
    QPushButton* cmdDone;
    QProgressBar* pbProgress;
    platform::ui::StatusBar* sbCopyMsg;
    DataConnection data;  // sckCopy and copyBuffer

  protected:
    CopyWindow(ShellHost& host, FCEBrowse& browser, const QString& sourceLabel, const QString& destLabel,
               QWidget* parent);

    // The "..." button of row 0 (source) or 1 (destination); "..." says nothing, `accessibleName` does.
    QPushButton* browseButton(int row, const char* name, const QString& accessibleName);
    // A check box below the rows, in column `column`.
    QCheckBox* checkBox(const QString& caption, const char* name, int column);

    // Opens the data connection for the copy command just sent; false, after telling the user, when the
    // device refuses it or does not answer.
    bool openDataConnection();

    ShellHost& host_;
    FCEBrowse& browser_;
    NotifySubscription notifyHandle_{host_};
    bool closing_ = false;
    bool copying_ = false;  // the Copy button's handler runs

  private:
    QGridLayout* grid_;
};

}  // namespace vantor::files
