#pragma once

#include <QByteArray>
#include <QTimer>
#include <QWidget>
#include <memory>

#include "merrow/continuous_log.h"
#include "merrow/pane_text.h"
#include "merrow/pane_view.h"
#include "platform/net/tcp_client.h"

class QComboBox;
class QFrame;
class QGroupBox;
class QLabel;
class QPlainTextEdit;
class QPushButton;

namespace iplist {
class ServerLink;
}

namespace platform::ui {
class StatusBar;
}

namespace merrow {

// Merrow's one window: connects to a device's debug-message port and shows what arrives, can freeze
// the pane ("Stop"), save it once ("Snapshot...") and store the whole stream as it arrives
// ("Store..."). Owns the connection, the pane text and the continuous-save file; runs on the UI thread.
class frmMain : public QWidget {
    Q_OBJECT
  public:
    static constexpr const char* kAppTitle = "Merrow";
    static constexpr quint16 kPort = 5151;

    explicit frmMain(QWidget* parent = nullptr);
    ~frmMain() override;

    void cbConnect_Click();
    void cbStop_Click();
    void cbSnapshot_Click();
    void cbSave_Click();
    void cbClrAnswer_Click();
    void ShowStatus(int panel, const QString& text);

    int linkState() const;
    int saveFileNo() const { return saveLog_.isOpen() ? 1 : 0; }
    // The pane's text exactly as received; the widget shows it at most kSyncInterval later.
    const QByteArray& paneText() const { return pane_.text(); }
    // Brings the widget up to date with paneText() at once.
    void syncPane() { paneView_->sync(); }

    QGroupBox* frmServer;
    QComboBox* cbIPs;
    QPushButton* cbConnect;
    QPlainTextEdit* tbMsgs;
    QFrame* frmPanel;
    QPushButton* cbSave;
    QPushButton* cbSnapshot;
    QPushButton* cbClrAnswer;
    QPushButton* cbStop;
    QPushButton* cbExit;
    QLabel* lbPan1;
    platform::net::TcpClient Winsock1;
    QTimer Timer1;

  protected:
    void resizeEvent(QResizeEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

  private:
    void buildControls();
    // The save dialog of Snapshot and Store; empty when cancelled.
    QString askSavePath(const QString& title, const QString& filter);
    void LoadIPList();
    void SaveIPList();
    void AppendLog(const QByteArray& text);
    void Timer1_Timer();
    void Winsock1_DataArrival();
    void Winsock1_Error(int number, const QString& description);
    void paintStop();
    void unload();

    platform::ui::StatusBar* statusBar_;              // holds lbPan1
    std::unique_ptr<iplist::ServerLink> serverLink_;  // cbIPs, cbConnect, Winsock1 and Timer1 in step
    bool unloaded_ = false;
    PaneText pane_;
    std::unique_ptr<PaneView> paneView_;
    ContinuousLog saveLog_;
};

}  // namespace merrow
