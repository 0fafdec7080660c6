#include "pavane/frm_download_ce.h"

#include <QCloseEvent>
#include <QComboBox>
#include <QDir>
#include <QFileInfo>
#include <QGroupBox>
#include <QHostInfo>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStatusBar>

#include "iplist/ip_list_file.h"
#include "iplist/ip_list_variants.h"
#include "pavane/address_check.h"
#include "platform/files/program_dir.h"
#include "platform/settings/settings_store.h"
#include "platform/ui/dialogs.h"
#include "platform/ui/time_scale.h"
#include "platform/ui/wait.h"

namespace pavane {

namespace {

constexpr int kTwipsPerPixel = 15;
constexpr int px(int twips) { return twips / kTwipsPerPixel; }

const QString kSettingsSection = QStringLiteral("Settings");
const QString kIpKey = QStringLiteral("IP");

QString listPath() { return platform::programFile(QString::fromLatin1(iplist::kFileName)); }

// The addresses answers may come from: the address itself, or what a host name stands for.
QList<QHostAddress> addressesOf(const QString& host) {
    QList<QHostAddress> addresses{QHostAddress(host)};
    if (addresses.front().isNull()) addresses = QHostInfo::fromName(host).addresses();
    QList<QHostAddress> v4;
    for (const QHostAddress& address : addresses)
        if (address.protocol() == QAbstractSocket::IPv4Protocol) v4 << address;  // the socket's kind
    return v4;
}

}  // namespace

frmDownloadCE::frmDownloadCE(QWidget* parent) : QWidget(parent) {
    buildControls();
    Winsock1.setLocalPort(kLoaderPort);
    Winsock1.setRemotePort(kLoaderPort);
    Winsock1.setReplyWait(kAnswerWaitInPlace);
    // Beside a simulated device on the same PC the port must be bound on another address.
    const QString localAddress = qEnvironmentVariable("PAVANE_LOCAL_ADDRESS");
    if (!localAddress.isEmpty()) Winsock1.setLocalAddress(QHostAddress(localAddress));
    connect(&Winsock1, &platform::net::UdpSocket::dataArrival, this, &frmDownloadCE::Winsock1_DataArrival);
    connect(&Winsock1, &platform::net::UdpSocket::error, this, &frmDownloadCE::Winsock1_Error);
    connect(&SocketTimeout, &QTimer::timeout, this, &frmDownloadCE::SocketTimeout_Timer);
    Form_Load();
}

frmDownloadCE::~frmDownloadCE() { image_.close(); }

void frmDownloadCE::buildControls() {
    setObjectName(QStringLiteral("frmDownloadCE"));
    setWindowTitle(QStringLiteral("Download Windows CE Image"));
    setFixedSize(px(4095), px(2400));

    lblDownload = new QLabel(QStringLiteral("Download"), this);
    lblDownload->setObjectName(QStringLiteral("lblDownload"));
    QFont big = lblDownload->font();
    big.setPointSize(16);
    big.setBold(true);
    lblDownload->setFont(big);
    lblDownload->setGeometry(px(120), px(90), px(1800), px(450));

    lblProduct = new QLabel(QStringLiteral("Quillon 2000"), this);
    lblProduct->setObjectName(QStringLiteral("lblProduct"));
    QFont bold = lblProduct->font();
    bold.setBold(true);
    lblProduct->setFont(bold);
    lblProduct->setGeometry(px(2400), px(90), px(1575), px(255));

    lblMaker = new QLabel(QStringLiteral("Morvane GmbH"), this);
    lblMaker->setObjectName(QStringLiteral("lblMaker"));
    lblMaker->setGeometry(px(2400), px(345), px(1575), px(255));

    Frame1 = new QGroupBox(QStringLiteral(" IP Address "), this);
    Frame1->setObjectName(QStringLiteral("Frame1"));
    Frame1->setGeometry(px(120), px(660), px(3855), px(750));
    txtIP = new QComboBox(Frame1);
    txtIP->setObjectName(QStringLiteral("txtIP"));
    txtIP->setEditable(true);
    // The frame's caption in plain words for assistive tools; the edit inside the box carries them
    // too, since on some platforms a combo box's name is its current text.
    txtIP->setAccessibleName(QStringLiteral("IP Address"));
    txtIP->lineEdit()->setAccessibleName(txtIP->accessibleName());
    txtIP->setInsertPolicy(QComboBox::NoInsert);
    txtIP->setGeometry(px(120), px(285), px(3615), px(330));

    CmdFileSel = new QPushButton(QStringLiteral("Image file..."), this);
    CmdFileSel->setObjectName(QStringLiteral("CmdFileSel"));
    CmdFileSel->setToolTip(QStringLiteral(" Select an Image File to Download "));
    CmdFileSel->setGeometry(px(120), px(1530), px(1215), px(375));

    CmdDownload = new QPushButton(QStringLiteral("Download"), this);
    CmdDownload->setObjectName(QStringLiteral("CmdDownload"));
    CmdDownload->setToolTip(QStringLiteral(" Download the selected Image File "));
    CmdDownload->setGeometry(px(1440), px(1530), px(1215), px(375));
    CmdDownload->setEnabled(false);

    CmdQuit = new QPushButton(QStringLiteral("Quit"), this);
    CmdQuit->setObjectName(QStringLiteral("CmdQuit"));
    CmdQuit->setGeometry(px(2760), px(1530), px(1215), px(375));

    StatusBar1 = new QStatusBar(this);
    StatusBar1->setObjectName(QStringLiteral("StatusBar1"));
    StatusBar1->setSizeGripEnabled(false);
    StatusBar1->setGeometry(0, px(2400) - px(330), px(4095), px(330));
    statusPanel = new QLabel(StatusBar1);
    statusPanel->setObjectName(QStringLiteral("StatusBar1Panel1"));
    StatusBar1->addWidget(statusPanel, 1);

    connect(CmdFileSel, &QPushButton::clicked, this, &frmDownloadCE::CmdFileSel_Click);
    connect(CmdDownload, &QPushButton::clicked, this, &frmDownloadCE::CmdDownload_Click);
    connect(CmdQuit, &QPushButton::clicked, this, &frmDownloadCE::CmdQuit_Click);
    SocketTimeout.setTimerType(Qt::PreciseTimer);
    statusRefresh_.setSingleShot(true);
    statusRefresh_.setInterval(kStatusRefresh);
    connect(&statusRefresh_, &QTimer::timeout, this, &frmDownloadCE::showStatus);
}

void frmDownloadCE::Form_Load() {
    sFlatRelDir = qEnvironmentVariable("_FLATRELEASEDIR");
    LoadIPList();
    setStatus(QStringLiteral("Please select an Image File"));
    if (!sFlatRelDir.isEmpty()) QDir::setCurrent(sFlatRelDir);  // a folder that isn't there is no error here
    fileName_ = QString::fromLatin1(kDefaultImage);
}

QString frmDownloadCE::statusText() const { return status_; }

void frmDownloadCE::setStatus(const QString& text) {
    if (status_ == text) return;
    status_ = text;
    if (!statusShown_.isValid() || statusShown_.elapsed() >= kStatusRefresh.count())
        showStatus();
    else if (!statusRefresh_.isActive())
        statusRefresh_.start();
    emit statusChanged(text);
}

void frmDownloadCE::showStatus() {
    statusRefresh_.stop();
    statusPanel->setText(status_);
    statusShown_.start();
}

void frmDownloadCE::LoadIPList() {
    const QString last = platform::GetSetting(QString::fromLatin1(kAppTitle), kSettingsSection, kIpKey);
    const iplist::SelectableList list = iplist::loadPavaneList(listPath(), last);
    txtIP->clear();
    txtIP->addItems(list.entries);
    txtIP->setCurrentIndex(list.selected);
}

void frmDownloadCE::SaveIPList() {
    QStringList entries;
    for (int i = 0; i < txtIP->count(); ++i) entries << txtIP->itemText(i);
    // A list that can't be written still leaves the address used last in the settings.
    iplist::savePavaneList(listPath(), entries, txtIP->currentText());
    platform::SaveSetting(QString::fromLatin1(kAppTitle), kSettingsSection, kIpKey, txtIP->currentText());
}

void frmDownloadCE::CmdFileSel_Click() {
    platform::ui::FileDialogRequest request;
    request.kind = platform::ui::FileDialogRequest::Kind::Open;
    request.title = QStringLiteral("Select the CE image file to download");
    request.filter = QStringLiteral("Windows CE image Files (*.bin) | *.bin");
    request.fileName = fileName_;
    const QString chosen = platform::ui::dialogs().fileDialog(request);
    if (!chosen.isEmpty()) fileName_ = chosen;
    if (FileReady()) {
        setStatus(QString::fromLatin1(kDefaultImage) + QStringLiteral(" ready for downloading"));
        CmdDownload->setEnabled(!aborted_);
    }
}

bool frmDownloadCE::FileReady() {
    if (txtIP->currentText().isEmpty()) return false;
    const QFileInfo info(fileName_);
    return info.exists() && info.isFile();
}

void frmDownloadCE::CmdDownload_Click() {
    if (downloading_ || aborted_) return;
    CmdDownload->setEnabled(false);
    downloading_ = true;
    DownloadImage();
    downloading_ = false;
    if (!aborted_ && !unloaded_) CmdDownload->setEnabled(true);
}

void frmDownloadCE::CmdQuit_Click() { Unload(); }

void frmDownloadCE::Unload() {
    Form_Unload();
    hide();
}

void frmDownloadCE::closeEvent(QCloseEvent* event) {
    Form_Unload();
    event->accept();
}

void frmDownloadCE::Form_Unload() {
    if (unloaded_) return;
    unloaded_ = true;
    SocketTimeout.stop();
    image_.close();
    SaveIPList();
    Winsock1.Close();
    emit unloaded();
}

bool frmDownloadCE::CheckIPAddress() {
    targetHost = txtIP->currentText();
    if (hasFourDottedParts(targetHost)) return true;
    AbortProgram(QStringLiteral("invalid IP address"));
    return false;
}

void frmDownloadCE::AbortProgram(const QString& reason) {
    setStatus(QStringLiteral("Program aborted - ") + reason);
    image_.close();
    SocketTimeout.stop();
    // Nothing but Quit and the close box is left.
    aborted_ = true;
    CmdDownload->setEnabled(false);
    CmdFileSel->setEnabled(false);
    txtIP->setEnabled(false);
    emit aborted(statusText());
}

void frmDownloadCE::DownloadImage() {
    if (!CheckIPAddress()) return;
    Winsock1.setRemoteHost(targetHost);
    targetAddresses_ = addressesOf(targetHost);
    const QString name = fileName_;
    if (!image_.open(name)) {
        platform::ui::msgBox(QStringLiteral("Couldn't open file '") + name + QStringLiteral("'"));
        return;
    }
    packetCount = image_.packetCount();
    if (name.isEmpty() || !image_.isValidImage()) {
        AbortProgram(QStringLiteral("file does not exist or is invalid"));
        return;
    }
    setStatus(QStringLiteral("Downloading image file ") + name);
    const std::chrono::milliseconds tick = platform::scaled(kTickInterval);
    SocketTimeout.setInterval(tick);
    // Only a stalled event loop gets here: the ticks end every wait long before.
    const std::chrono::milliseconds waitLimit = tick * (kWaitTicks + 1) * 4;
    ImageDownload::Action action = image_.next();
    for (;;) {
        if (unloaded_) return;  // Quit or the close box ran in the middle of the download
        switch (action) {
            case ImageDownload::Action::Complete:
                SocketTimeout.stop();
                setStatus(QString::fromLatin1(kCompleteText));
                return;
            case ImageDownload::Action::WrongAddress:
                SocketTimeout.stop();
                setStatus(QStringLiteral("IP address seems to be wrong"));
                return;
            case ImageDownload::Action::ReadFailed:
                SocketTimeout.stop();
                platform::ui::msgBox(QStringLiteral("Couldn't open file '") + name + QStringLiteral("'"));
                return;
            case ImageDownload::Action::Send:
                break;
        }
        if (!sendPacket()) {
            sendFailed();
            return;
        }
        // While answers come in time, the packets follow one another from the answers' events and this
        // wait goes on; it ends for an answer the loop handles, the end of the ticks, or the end of the
        // image. The limit counts from the last packet sent.
        followed_ = ImageDownload::Action::Send;
        followFailed_ = false;
        awaiting_ = true;
        const auto answered = [this] {
            return !ackText.isEmpty() || tickCount >= kWaitTicks || unloaded_ || followFailed_ ||
                   followed_ != ImageDownload::Action::Send;
        };
        while (!platform::ui::waitUntil(answered, waitLimit) && lastSend_.elapsed() < waitLimit.count()) {
        }
        awaiting_ = false;
        if (unloaded_) return;
        if (followFailed_) {
            sendFailed();
            return;
        }
        if (followed_ != ImageDownload::Action::Send) {
            action = followed_;
            continue;
        }
        const int n = image_.packet();
        switch (image_.answer(ackText)) {
            case ImageDownload::Answer::Advanced:
                setStatus(QStringLiteral("Packet ") + QString::number(n));
                break;
            case ImageDownload::Answer::Resend:
            case ImageDownload::Answer::Rewound:
                setStatus(QStringLiteral("Resending ") + QString::number(n));
                break;
            case ImageDownload::Answer::OutOfRange:
                sendFailed();
                return;
        }
        action = image_.next();
    }
}

bool frmDownloadCE::sendPacket() {
    ackText.clear();
    if (!Winsock1.SendData(image_.datagram())) return false;
    Winsock1.awaitReply();
    lastSend_.start();
    tickCount = 0;
    // The tick timer runs on from packet to packet, as the classic timer does when it is started again
    // while it runs; a restart per packet would cost a timer registration per packet.
    if (!SocketTimeout.isActive()) SocketTimeout.start();
    return true;
}

void frmDownloadCE::sendFollowing() {
    const int n = image_.packet();
    image_.answer(ackText);  // the caller made sure it acknowledges packet n
    setStatus(QStringLiteral("Packet ") + QString::number(n));
    const ImageDownload::Action action = image_.next();
    if (action != ImageDownload::Action::Send) {
        ackText.clear();
        followed_ = action;
    } else if (!sendPacket()) {
        followFailed_ = true;
    }
}

void frmDownloadCE::sendFailed() {
    SocketTimeout.stop();
    image_.close();
    platform::ui::msgBox(QStringLiteral("Couldn't send data to the device !\r\n"
                                        "Please make sure, that there is no other program\r\n"
                                        "accessing port ") +
                         QString::number(Winsock1.RemotePort()) + QStringLiteral(" on host ") +
                         Winsock1.RemoteHost());
}

bool frmDownloadCE::fromTarget() const {
    const QHostAddress& sender = Winsock1.RemoteAddress();
    for (const QHostAddress& address : targetAddresses_)
        if (address.isEqual(sender, QHostAddress::TolerantConversion)) return true;
    return false;
}

void frmDownloadCE::Winsock1_DataArrival(qint64) {
    const QByteArray datagram = Winsock1.GetData();
    // Only the device being loaded answers: anything else on the port is as if nothing had come.
    if (!fromTarget()) return;
    ackText = datagram;
    // The packet in flight acknowledged, and not the last one: the next leaves at once. Everything else
    // (no answer, another number, the last packet) is the download loop's.
    if (awaiting_ && !followFailed_ && followed_ == ImageDownload::Action::Send &&
        ImageDownload::ackNumber(ackText) == image_.packet() && image_.packet() < packetCount)
        sendFollowing();
}

void frmDownloadCE::Winsock1_Error(int, const QString& description) { platform::ui::msgBox(description); }

void frmDownloadCE::SocketTimeout_Timer() { ++tickCount; }

bool frmDownloadCE::prepareForClient(const QString& ip, const QString& path) {
    show();
    CmdDownload->move(px(1320), CmdDownload->y());
    CmdFileSel->hide();
    CmdQuit->hide();
    txtIP->setEditText(ip);
    sFlatRelDir = path;
    if (!QFileInfo(path).isDir() || !QDir::setCurrent(path)) return false;
    fileName_ = QString::fromLatin1(kDefaultImage);
    CmdDownload->setEnabled(!aborted_);
    return true;
}

}  // namespace pavane
