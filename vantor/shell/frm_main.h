#pragma once

#include <QByteArray>
#include <QList>
#include <QMainWindow>
#include <QPointer>
#include <QSize>
#include <array>
#include <functional>
#include <map>
#include <memory>

#include "vantor/common/shell_host.h"
#include "vantor/shell/console_text.h"
#include "vantor/shell/shell_log.h"
#include "vantor/shell/shell_messages.h"
#include "vantor/shell/window_layout.h"

class QAction;
class QFrame;
class QGroupBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QListWidgetItem;
class QMenu;
class QPlainTextEdit;
class QPushButton;

namespace platform::net {
class TcpClient;
}

namespace platform::ui {
class StatusBar;
}

namespace vantor {

class FClock;
class FIPAddr;
class FGatewayAddr;
class FSubnet;

// Vantor's main window: the device list, the one shell connection, the console and its log file, and
// the operations the other windows reach the device through (ShellHost). Owns the shell socket and the
// subscriber list for the program's whole life. UI thread only; waits for device answers keep the
// event loop running.
class frmMain : public QMainWindow, public ShellHost {
    Q_OBJECT
  public:
    static constexpr quint16 kShellPort = 4212;
    static constexpr int kHistorySize = 10;
    // The digest of the access code; see CheckCommand.
    static constexpr const char* kAccessReference = "5093648217";

    explicit frmMain(QWidget* parent = nullptr);
    ~frmMain() override;

    // ShellHost
    platform::net::TcpClient& sckShell() override;
    QString HostIP() const override;
    quint16 HostPort() const override;
    qint32 Register4Notify(NotifyClient* client) override;
    void UnRegister4Notify(qint32 handle) override;

    // The receive path: splits a chunk into messages, routes, shows and logs them.
    void addText(const QByteArray& rcv);
    // Most bytes held back while a subscriber waits inside Notify; more stay with the socket (and the
    // device) until the receive path is free again.
    static constexpr qint64 kQueueLimit = 1024 * 1024;
    qint64 queuedBytes() const { return queuedBytes_; }

    // State a user (or a test) can observe.
    int connectedIndex() const { return connectedIndex_; }
    bool restricted() const { return restricted_; }
    // The console's text, byte for byte (tbRcv shows it with its line breaks).
    const QByteArray& consoleText() const { return console_.text(); }
    QString statusText() const;
    QSize startSize() const { return startSize_; }

    // Controls, named as in the window's design.
    QLabel* Label1;
    QLabel* lbVersion;
    QGroupBox* Frame1;
    QListWidget* lbIPs;
    QLineEdit* txtNewIP;
    QPushButton* cmdAdd;
    QPushButton* cmdDel;
    QPushButton* cmdDisconnect;
    QGroupBox* Frame2;
    QPlainTextEdit* tbRcv;
    QGroupBox* Frame3;
    QLineEdit* tbCmd;
    QFrame* Frame4;
    QPushButton* cmdClear;
    QPushButton* cmdUpload;
    QPushButton* cbLog;
    QPushButton* cbAbout;
    QPushButton* cbExit;
    platform::ui::StatusBar* sbStatus;

    QMenu* mnuFile;
    QAction* mnuUpload;
    QAction* mnuDownload;
    QAction* mnuEmpty1;
    QAction* mnuDir;
    QAction* mnuEmpty0;
    QAction* mnuExit;
    QMenu* mnuLog;
    QAction* mnuClear;
    QAction* mnuShow;
    QMenu* mnuTools;
    QAction* mnuClock;
    QAction* mnuIPAddr;
    QAction* mnuGateway;
    QAction* mnuSubnet;
    QMenu* mnuBoot;
    QAction* mnuBWarm;
    QAction* mnuBCold;
    QAction* mnuBFlash;
    QMenu* mnuAbout;
    QAction* mnuAboutVantor;

    // Device commands are usable only while connected.
    void EnableDeviceCommands(bool enable);

  public slots:
    // The file windows.
    void mnuDir_Click();
    void mnuUpload_Click();
    void mnuDownload_Click();
    void cmdUpload_Click();

    // IP list and connection.
    void lbIPs_Click();
    void lbIPs_DblClick();
    void txtNewIP_Change();
    void cmdAdd_Click();
    void cmdDel_Click();
    void cmdDisconnect_Click();

    // Console.
    void cmdClear_Click();
    void cbLog_Click();
    void cbAbout_Click();
    void cbExit_Click();

    // Boot.
    void mnuBWarm_Click();
    void mnuBCold_Click();
    void mnuBFlash_Click();

    // Device settings.
    void mnuClock_Click();
    void mnuIPAddr_Click();
    void mnuGateway_Click();
    void mnuSubnet_Click();

  protected:
    void closeEvent(QCloseEvent* event) override;
    void changeEvent(QEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    // Construction.
    void createControls();
    void createMenus();
    void connectHandlers();
    void Form_Load();
    void Form_Unload();
    // Ends the copies of the file windows (hidden ones too); with `destroy` the windows go as well.
    void endFileWindows(bool destroy);
    void recordLayout();
    void Form_Resize();
    void HookMinMax();
    void UnhookMinMax();
    QSize maximumTrackingSize() const;

    // IP list.
    void LoadIPList();
    void SaveIPList();

    // Shell socket events.
    void sckShell_Connect();
    void sckShell_DataArrival();
    void takeShellData(bool evenIfQueueFull);
    void sckShell_Close();
    void sckShell_Error(int number, const QString& description);

    // Receive path.
    bool GetNextMessage();
    QByteArray GetReplyLine();
    void routeCurMessage();
    void NotifyClients(const QByteArray& msg, const QByteArray& data);
    void showConsoleEdit();
    void openLog();
    void writeLog(const QByteArray& record);
    void reportLogFailure(const QString& reason);

    // Command line.
    void tbCmd_KeyUp(int keyCode, Qt::KeyboardModifiers shift);
    void CheckCommand(QByteArray& cmd, bool& handled);
    void EchoCommand(const QByteArray& cmd);
    void ShowDeviceLog();
    void ShowExpertItems(bool visible);
    void bootDevice(const QByteArray& command);

    // Device settings: sends `getCommand` and waits for the one-line answer; false (after telling the
    // user) when none came.
    bool askDevice(const QByteArray& getCommand, QByteArray& value);
    void changeSetting(const QByteArray& getCommand, const QByteArray& setCommand,
                       const std::function<QString(const QString&)>& editValue);

    void setStatus(const QString& text);

    std::unique_ptr<platform::net::TcpClient> sckShell_;
    ShellMessages messages_;
    bool receiving_ = false;          // addText is running (a subscriber may wait for events)
    QList<QByteArray> queuedChunks_;  // chunks that arrived meanwhile, split in turn afterwards
    qint64 queuedBytes_ = 0;          // their total, at most about kQueueLimit
    bool shellDataWaiting_ = false;   // bytes left in the socket while the queue was full
    ConsoleText console_;
    ShellLog log_;
    bool logFailureReported_ = false;

    qint16 connectedIndex_ = -1;

    struct Subscriber {
        NotifyClient* client;
        QPointer<QObject> object;  // set when the subscriber is a QObject: a deleted window is skipped
        bool isObject;
    };
    std::map<qint32, Subscriber> notifyClients_;  // key order = subscription order
    qint32 notifyCount_ = 0;

    bool restricted_ = true;
    std::array<QByteArray, 6> restrictedWords_;
    std::array<QByteArray, kHistorySize> history_;
    qint16 histIndex_ = 0;
    int pressedKey_ = 0;            // the command line's key whose press came and whose release has not
    bool exchangeRunning_ = false;  // a get/set exchange or a boot pause is waiting
    bool unloaded_ = false;

    QSize startSize_;
    QSize savedMinimum_;
    QSize savedMaximum_;
    bool hooked_ = false;
    WindowLayout layout_;
    std::vector<std::pair<QWidget*, int>> laidOut_;

    std::unique_ptr<FClock> clockDialog_;
    std::unique_ptr<FIPAddr> ipDialog_;
    std::unique_ptr<FGatewayAddr> gatewayDialog_;
    std::unique_ptr<FSubnet> subnetDialog_;
};

}  // namespace vantor
