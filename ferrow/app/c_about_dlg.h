#pragma once

#include <QDialog>

class QPushButton;

namespace ferrow {

// "About Ferrow": the program's name, version and maker. Modal, user-interface thread.
class CAboutDlg : public QDialog {
    Q_OBJECT
  public:
    explicit CAboutDlg(QWidget* parent = nullptr);

    QPushButton* cmdOK;
};

}  // namespace ferrow
