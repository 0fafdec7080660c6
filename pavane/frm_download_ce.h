#pragma once

#include <QByteArray>
#include <QElapsedTimer>
#include <QHostAddress>
#include <QString>
#include <QStringList>
#include <QTimer>
#include <QWidget>
#include <chrono>

#include "pavane/image_download.h"
#include "platform/net/udp_socket.h"

class QComboBox;
class QGroupBox;
class QLabel;
class QPushButton;
class QStatusBar;

namespace pavane {

// The settings store's application title.
inline constexpr const char* kAppTitle = "Pavane";

// Pavane's one window: pick an image and a device address, press Download, watch the packets go. The
// download runs inside the Download click, waiting in the event loop for each answer; ImageDownload
// decides what goes out next. Lives on the UI thread. Owns its UDP socket (local port 4242) and the
// 100 ms tick timer.
class frmDownloadCE : public QWidget {
    Q_OBJECT
  public:
    static constexpr quint16 kLoaderPort = 4242;
    static constexpr std::chrono::milliseconds kTickInterval{100};
    static constexpr int kWaitTicks = 11;
    // How long the socket waits in place for the answer to a packet sent from an answer's event before
    // it leaves the wait to the event loop (and the ticks): a device on the network answers well within
    // it (the system rounds it up to its clock tick).
    static constexpr std::chrono::microseconds kAnswerWaitInPlace{2000};
    static constexpr const char* kDefaultImage = "nk.bin";
    static constexpr const char* kCompleteText = "Image download complete";

    explicit frmDownloadCE(QWidget* parent = nullptr);
    ~frmDownloadCE() override;

    // The folder holding the image (the public write property of the window).
    QString sFlatRelDir;

    // The window as an automation client asks for it: Download alone, for `ip` and the image "nk.bin"
    // in `path`. False (window shown, Download still disabled) when `path` is not a folder.
    bool prepareForClient(const QString& ip, const QString& path);

    QString statusText() const;
    bool isAborted() const { return aborted_; }
    bool isUnloaded() const { return unloaded_; }
    bool isDownloading() const { return downloading_; }
    // The address the local port is bound on (default: every address, or PAVANE_LOCAL_ADDRESS).
    void setLocalAddress(const QHostAddress& address) { Winsock1.setLocalAddress(address); }

    // Closes the image, saves the list and ends the window (Quit, the close box, the last client gone).
    void Unload();

    void CmdFileSel_Click();
    void CmdDownload_Click();
    void CmdQuit_Click();

  signals:
    void statusChanged(const QString& text);
    // AbortProgram ran: from now on only Quit and the close box are left.
    void aborted(const QString& statusText);
    // Quit or the close box: the image is closed, the list saved; the program is to end.
    void unloaded();

  protected:
    void closeEvent(QCloseEvent* event) override;

  private:
    void buildControls();
    void Form_Load();
    void Form_Unload();
    void LoadIPList();
    void SaveIPList();
    bool FileReady();
    bool CheckIPAddress();
    void AbortProgram(const QString& reason);
    void DownloadImage();
    bool sendPacket();
    void sendFollowing();
    bool fromTarget() const;
    void sendFailed();
    void setStatus(const QString& text);
    void showStatus();
    void Winsock1_DataArrival(qint64 bytesTotal);
    void Winsock1_Error(int number, const QString& description);
    void SocketTimeout_Timer();

    QLabel* lblDownload = nullptr;
    QLabel* lblProduct = nullptr;
    QLabel* lblMaker = nullptr;
    QGroupBox* Frame1 = nullptr;
    QComboBox* txtIP = nullptr;
    QPushButton* CmdFileSel = nullptr;
    QPushButton* CmdDownload = nullptr;
    QPushButton* CmdQuit = nullptr;
    QStatusBar* StatusBar1 = nullptr;
    QLabel* statusPanel = nullptr;
    // The status text as set; the panel shows it at most every kStatusRefresh, since a packet takes far
    // less than a frame and painting each "Packet n" would cost more than sending it.
    static constexpr std::chrono::milliseconds kStatusRefresh{50};
    QString status_;
    QElapsedTimer statusShown_;
    QTimer statusRefresh_;
    platform::net::UdpSocket Winsock1;
    QTimer SocketTimeout;

    QString fileName_;  // the file dialog's file name
    QString targetHost;
    QList<QHostAddress> targetAddresses_;  // where acknowledgements are taken from
    qint64 packetCount = 0;
    QByteArray ackText;
    int tickCount = 0;
    ImageDownload image_;
    // DownloadImage waits for the answer to a packet in flight: the answer that acknowledges it sends the
    // next packet from inside its own event (sendFollowing).
    bool awaiting_ = false;
    // What sendFollowing met that is the loop's to handle (Send: nothing).
    ImageDownload::Action followed_ = ImageDownload::Action::Send;
    bool followFailed_ = false;  // its send failed
    QElapsedTimer lastSend_;
    bool downloading_ = false;
    bool aborted_ = false;
    bool unloaded_ = false;
};

}  // namespace pavane
