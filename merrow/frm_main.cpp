#include "merrow/frm_main.h"

#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QFontDatabase>
#include <QFrame>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QResizeEvent>

#include "iplist/ip_list_combo.h"
#include "iplist/server_link.h"
#include "platform/files/atomic_file.h"
#include "platform/ui/dialogs.h"
#include "platform/ui/status_bar.h"
#include "platform/ui/window_placement.h"

namespace merrow {

namespace {
constexpr const char* kSection = "Settings";
// Layout in pixels: the margins the resize rule keeps (240 twips in all), the fixed frame heights.
constexpr int kMargin = 8;
constexpr int kGap = 4;
constexpr int kServerHeight = 66;
constexpr int kPanelHeight = 40;
constexpr int kResizeAllowance = 240 / platform::ui::kTwipsPerPixel;

QString appTitle() { return QLatin1String(frmMain::kAppTitle); }

QPushButton* button(const QString& caption, const char* name, QWidget* parent) {
    auto* b = new QPushButton(caption, parent);
    b->setObjectName(QLatin1String(name));
    return b;
}

// "What failed" CR LF path CR LF why, as the program's other messages are laid out.
void tellFailure(const QString& what, const QString& path, const QString& why) {
    platform::ui::msgBox(what + QStringLiteral("\r\n") + path + QStringLiteral("\r\n") + why,
                         platform::ui::mb::OkOnly | platform::ui::mb::Exclamation);
}
}  // namespace

frmMain::frmMain(QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("frmMain"));
    buildControls();
    paneView_ = std::make_unique<PaneView>(pane_, *tbMsgs);
    setWindowTitle(QStringLiteral("Merrow  %1.%2.%3")
                       .arg(QUILLON_VERSION_MAJOR)
                       .arg(QUILLON_VERSION_MINOR)
                       .arg(QUILLON_VERSION_PATCH));
    platform::ui::restoreWindowPosition(*this, appTitle(), QLatin1String(kSection));
    resize(680, 460);

    Timer1.setInterval(100);
    connect(&Timer1, &QTimer::timeout, this, &frmMain::Timer1_Timer);
    connect(&Winsock1, &platform::net::TcpClient::dataArrival, this, &frmMain::Winsock1_DataArrival);
    connect(&Winsock1, &platform::net::TcpClient::error, this, &frmMain::Winsock1_Error);
    serverLink_ = std::make_unique<iplist::ServerLink>(*cbIPs, *cbConnect, Winsock1, Timer1, kPort,
                                                       [this](const QString& text) { ShowStatus(1, text); });

    LoadIPList();
}

frmMain::~frmMain() = default;

void frmMain::buildControls() {
    frmServer = new QGroupBox(QStringLiteral(" Server "), this);
    frmServer->setObjectName(QStringLiteral("frmServer"));
    frmServer->setGeometry(kMargin, kGap, 420, kServerHeight);
    cbIPs = new QComboBox(frmServer);
    cbIPs->setObjectName(QStringLiteral("cbIPs"));
    cbIPs->setEditable(true);
    cbIPs->setInsertPolicy(QComboBox::NoInsert);
    // What assistive tools read: plain words, not the control's code name. The edit inside the box
    // carries them too, since on some platforms a combo box's name is its current text.
    cbIPs->setAccessibleName(QStringLiteral("Server address"));
    cbIPs->lineEdit()->setAccessibleName(cbIPs->accessibleName());
    cbIPs->lineEdit()->setPlaceholderText(QStringLiteral("Edit IP Adr here"));
    cbConnect = button(QStringLiteral("Connect"), "cbConnect", frmServer);
    auto* serverRow = new QHBoxLayout(frmServer);
    serverRow->addWidget(cbIPs, 1);
    serverRow->addWidget(cbConnect);

    tbMsgs = new QPlainTextEdit(this);
    tbMsgs->setObjectName(QStringLiteral("tbMsgs"));
    tbMsgs->setAccessibleName(QStringLiteral("Debug messages"));
    QFont courier = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    courier.setFamilies({QStringLiteral("Courier New"), courier.family()});
    tbMsgs->setFont(courier);
    tbMsgs->setLineWrapMode(QPlainTextEdit::NoWrap);
    tbMsgs->move(kMargin, kGap + kServerHeight + kGap);

    frmPanel = new QFrame(this);
    frmPanel->setObjectName(QStringLiteral("frmPanel"));
    cbSave = button(QStringLiteral("Store..."), "cbSave", frmPanel);
    cbSnapshot = button(QStringLiteral("Snapshot..."), "cbSnapshot", frmPanel);
    cbClrAnswer = button(QStringLiteral("Clear"), "cbClrAnswer", frmPanel);
    cbStop = button(QStringLiteral("Stop"), "cbStop", frmPanel);
    cbStop->setCheckable(true);
    cbExit = button(QStringLiteral("Exit"), "cbExit", frmPanel);
    statusBar_ = new platform::ui::StatusBar({{QStringLiteral("lbPan1"), 1}}, frmPanel);
    statusBar_->setSizeGripEnabled(false);
    lbPan1 = statusBar_->panel(1);
    auto* panelRow = new QHBoxLayout(frmPanel);
    panelRow->setContentsMargins(0, 4, 0, 8);
    for (QPushButton* b : {cbSave, cbSnapshot, cbClrAnswer, cbStop, cbExit}) panelRow->addWidget(b);
    panelRow->addWidget(statusBar_, 1);
    paintStop();

    connect(cbConnect, &QPushButton::clicked, this, &frmMain::cbConnect_Click);
    connect(cbStop, &QPushButton::clicked, this, &frmMain::cbStop_Click);
    connect(cbSnapshot, &QPushButton::clicked, this, &frmMain::cbSnapshot_Click);
    connect(cbSave, &QPushButton::clicked, this, &frmMain::cbSave_Click);
    connect(cbClrAnswer, &QPushButton::clicked, this, &frmMain::cbClrAnswer_Click);
    connect(cbExit, &QPushButton::clicked, this, &QWidget::close);
}

void frmMain::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    const int width = event->size().width() - kResizeAllowance;
    if (width > 0) {
        tbMsgs->resize(width, tbMsgs->height());
        frmPanel->resize(width, kPanelHeight);
    }
    const int height =
        event->size().height() - (frmServer->y() + kPanelHeight + kServerHeight + kResizeAllowance);
    if (height > 0) {
        frmPanel->move(kMargin, event->size().height() - kPanelHeight);
        tbMsgs->resize(tbMsgs->width(), height);
    }
}

void frmMain::ShowStatus(int panel, const QString& text) {
    QLabel* label = statusBar_->panel(panel);
    if (!label || label->text() == text) return;
    label->setText(text);
    label->repaint();
}

// ---- IP list --------------------------------------------------------------------------------------

void frmMain::LoadIPList() { iplist::loadLastHostCombo(*cbIPs, appTitle()); }

void frmMain::SaveIPList() {
    if (!iplist::saveLastHostCombo(*cbIPs, appTitle()))
        platform::ui::msgBox(QString::fromLatin1(iplist::kSaveFailedMessage));
}

// ---- link -----------------------------------------------------------------------------------------

int frmMain::linkState() const { return serverLink_->state(); }

void frmMain::cbConnect_Click() {
    if (serverLink_->offersConnect())
        serverLink_->connect();
    else
        serverLink_->disconnect();
}

void frmMain::Timer1_Timer() { serverLink_->poll(); }

void frmMain::Winsock1_Error(int, const QString& description) {
    QApplication::beep();
    ShowStatus(1, QStringLiteral("Winsock Error: ") + description);
    serverLink_->drop();
}

void frmMain::Winsock1_DataArrival() {
    const QByteArray data = Winsock1.GetData();
    if (data.isEmpty()) return;
    // The file gets the bytes exactly as they came: a line end added per piece would break lines
    // wherever the network happened to split them.
    if (saveLog_.isOpen()) {
        QString error;
        if (!saveLog_.write(data, &error))
            tellFailure(QStringLiteral("Couldn't write to"), saveLog_.path(),
                        error + QStringLiteral("\r\nContinuous saving has stopped."));
    }
    AppendLog(data);
}

// ---- pane -----------------------------------------------------------------------------------------

void frmMain::AppendLog(const QByteArray& text) {
    if (cbStop->isChecked()) return;
    pane_.append(text);
    paneView_->changed();
}

void frmMain::cbClrAnswer_Click() {
    pane_.clear();
    paneView_->sync();
}

void frmMain::cbStop_Click() { paintStop(); }

void frmMain::paintStop() {
    cbStop->setStyleSheet(cbStop->isChecked() ? QStringLiteral("QPushButton { background-color: #ff0000; }")
                                              : QStringLiteral("QPushButton { background-color: #c0c0c0; }"));
}

// ---- files ----------------------------------------------------------------------------------------

QString frmMain::askSavePath(const QString& title, const QString& filter) {
    platform::ui::FileDialogRequest request;
    request.kind = platform::ui::FileDialogRequest::Kind::Save;
    request.title = title;
    request.filter = filter;
    request.overwritePrompt = true;
    request.cancelRaises = true;
    try {
        return platform::ui::dialogs().fileDialog(request);
    } catch (const platform::ui::DialogCancelled&) {
        return {};  // Cancel: nothing to do
    }
}

void frmMain::cbSnapshot_Click() {
    const QString path = askSavePath(QStringLiteral("Save current log windows contents as ..."),
                                     QStringLiteral("(*.txt)|*.txt"));
    if (path.isEmpty()) return;
    QString error;
    if (!platform::writeFileAtomically(path, pane_.text() + "\r\n", &error))
        tellFailure(QStringLiteral("Couldn't save the snapshot to"), path, error);
}

void frmMain::cbSave_Click() {
    const QString path =
        askSavePath(QStringLiteral("Continuously save log as ..."), QStringLiteral("(*.log)|*.log"));
    if (path.isEmpty()) return;
    QString error;
    if (!saveLog_.open(path, &error))
        tellFailure(QStringLiteral("Couldn't open for continuous saving:"), path, error);
}

// ---- exit -----------------------------------------------------------------------------------------

void frmMain::closeEvent(QCloseEvent* event) {
    unload();
    event->accept();
}

void frmMain::unload() {
    if (unloaded_) return;
    unloaded_ = true;
    Timer1.stop();
    serverLink_->drop();
    saveLog_.close();
    if (isMinimized()) return;
    SaveIPList();
    platform::ui::storeWindowPlacement(*this, appTitle(), QLatin1String(kSection));
}

}  // namespace merrow
