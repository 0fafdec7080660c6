#pragma once

#include <QDialog>

class QLabel;
class QPushButton;

namespace vantor {

// The About box: title, version, the maker's name and contact lines, its logo, and a button that starts
// the system information program registered on this machine. UI thread.
class frmAbout : public QDialog {
    Q_OBJECT
  public:
    explicit frmAbout(QWidget* owner = nullptr);

    QLabel* lblTitle;
    QLabel* lblVersion;
    QLabel* Label1;
    QLabel* Label2;
    QLabel* Label3;
    QLabel* Label4;
    QLabel* Picture1;
    QPushButton* cmdOK;
    QPushButton* cmdSysInfo;

    // Registry keys the system information program is looked up under (local machine).
    static constexpr const char* kSysInfoKey = "SOFTWARE\\Microsoft\\Shared Tools\\MSINFO";
    static constexpr const char* kSysInfoValue = "PATH";
    static constexpr const char* kSysInfoLocationKey = "SOFTWARE\\Microsoft\\Shared Tools Location";
    static constexpr const char* kSysInfoLocationValue = "MSINFO";
    static constexpr const char* kSysInfoProgram = "MSINFO32.EXE";

    void cmdOK_Click();
    void cmdSysInfo_Click();

  private:
    void StartSysInfo();
};

}  // namespace vantor
