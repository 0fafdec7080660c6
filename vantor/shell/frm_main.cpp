#include "vantor/shell/frm_main.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <utility>

#include "platform/net/tcp_client.h"
#include "platform/ui/window_placement.h"
#include "vantor/common/app_info.h"
#include "vantor/common/c_status_bar.h"
#include "vantor/common/fonts.h"
#include "vantor/common/frm_about.h"
#include "vantor/common/logo.h"
#include "vantor/common/status_bar.h"
#include "vantor/settings/f_clock.h"
#include "vantor/settings/f_gateway_addr.h"
#include "vantor/settings/f_ip_addr.h"
#include "vantor/settings/f_subnet.h"

namespace vantor {

namespace {
// The window's design: the client area and every control in pixels, relative to its container.
constexpr QSize kDesignForm(740, 476);

template <typename W>
W* named(W* widget, const char* name) {
    widget->setObjectName(QLatin1String(name));
    return widget;
}

QPushButton* button(QWidget* parent, const char* name, const char* caption, const QRect& geometry,
                    const char* tip = nullptr) {
    auto* b = named(new QPushButton(QString::fromLatin1(caption), parent), name);
    b->setGeometry(geometry);
    if (tip) b->setToolTip(QString::fromLatin1(tip));
    return b;
}

QGroupBox* frame(QWidget* parent, const char* name, const char* caption, const QRect& geometry) {
    auto* f = named(new QGroupBox(QString::fromLatin1(caption), parent), name);
    f->setGeometry(geometry);
    return f;
}

QAction* item(QMenu* menu, const char* name, const char* caption) {
    QAction* a = menu->addAction(QString::fromLatin1(caption));
    a->setObjectName(QLatin1String(name));
    return a;
}

QAction* separator(QMenu* menu, const char* name) {
    QAction* a = menu->addSeparator();
    a->setObjectName(QLatin1String(name));
    return a;
}
}  // namespace

frmMain::frmMain(QWidget* parent)
    : QMainWindow(parent), sckShell_(std::make_unique<platform::net::TcpClient>()) {
    setObjectName(QStringLiteral("frmMain"));
    setWindowTitle(appTitle());
    setWindowIcon(QIcon(makerLogo(64)));
    createControls();
    createMenus();
    sbStatus = new StatusBar(1, this);
    sbStatus->setObjectName(QStringLiteral("sbStatus"));
    setStatusBar(sbStatus);
    setMainStatusBar(sbStatus);
    resize(kDesignForm.width(),
           kDesignForm.height() + menuBar()->sizeHint().height() + sbStatus->sizeHint().height());
    connectHandlers();
    Form_Load();
}

frmMain::~frmMain() {
    // The file windows end their subscriptions on the way out: while the subscriber list still exists.
    endFileWindows(true);
    if (!unloaded_) log_.close();
    if (mainStatusBar() == sbStatus) setMainStatusBar(nullptr);
}

void frmMain::createControls() {
    auto* form = new QWidget(this);
    form->setObjectName(QStringLiteral("form"));
    setCentralWidget(form);
    form->installEventFilter(this);
    const QFont mono = designFont(QStringLiteral("Courier New"), 10);

    Label1 = named(new QLabel(QStringLiteral("Morvane VoRezav1 Client"), form), "Label1");
    Label1->setFont(designFont(QStringLiteral("Arial"), 16, true));
    Label1->setGeometry(12, 6, 400, 32);
    lbVersion = named(new QLabel(QStringLiteral("Version"), form), "lbVersion");
    lbVersion->setGeometry(420, 16, 200, 20);

    Frame1 = frame(form, "Frame1", " Connect to ", {8, 44, 180, 424});
    lbIPs = named(new QListWidget(Frame1), "lbIPs");
    lbIPs->setGeometry(10, 22, 160, 290);
    lbIPs->setFont(mono);
    lbIPs->setToolTip(QStringLiteral("Double click on an IP address to connect"));
    cmdDisconnect = button(Frame1, "cmdDisconnect", "Disconnect", {10, 320, 160, 28});
    txtNewIP = named(new QLineEdit(Frame1), "txtNewIP");
    txtNewIP->setGeometry(10, 356, 160, 26);
    txtNewIP->setFont(mono);
    txtNewIP->setToolTip(QStringLiteral("enter new IP"));
    txtNewIP->setAccessibleName(QStringLiteral("New device address"));
    cmdAdd = button(Frame1, "cmdAdd", "Add", {10, 390, 75, 28}, "add IP to list");
    cmdDel = button(Frame1, "cmdDel", "Del", {95, 390, 75, 28}, "remove IP from list");

    Frame2 = frame(form, "Frame2", " Logged messages ", {196, 44, 448, 348});
    tbRcv = named(new QPlainTextEdit(Frame2), "tbRcv");
    tbRcv->setGeometry(10, 22, 428, 316);
    tbRcv->setFont(mono);
    tbRcv->setReadOnly(true);
    tbRcv->setUndoRedoEnabled(false);
    tbRcv->setLineWrapMode(QPlainTextEdit::NoWrap);
    tbRcv->setAccessibleName(QStringLiteral("Logged messages"));

    Frame3 = frame(form, "Frame3", " Command ", {196, 400, 448, 68});
    tbCmd = named(new QLineEdit(Frame3), "tbCmd");
    tbCmd->setGeometry(10, 28, 428, 28);
    tbCmd->setFont(mono);
    tbCmd->setToolTip(QStringLiteral("Type command and Enter"));
    tbCmd->setAccessibleName(QStringLiteral("Command"));
    tbCmd->installEventFilter(this);

    Frame4 = named(new QFrame(form), "Frame4");
    Frame4->setFrameShape(QFrame::StyledPanel);
    Frame4->setGeometry(652, 44, 80, 380);
    cmdClear = button(Frame4, "cmdClear", "&Clear", {6, 14, 68, 30}, "<- Clear the message window");
    cbAbout = button(Frame4, "cbAbout", "&About", {6, 52, 68, 30});
    cmdUpload = button(Frame4, "cmdUpload", "&File > CE", {6, 300, 68, 30}, "Copy file(s) to CE device");
    cbLog = button(Frame4, "cbLog", "Show &Log", {6, 338, 68, 30}, "Show log of CE device");
    cbExit = button(form, "cbExit", "E&xit", {658, 436, 68, 30}, "Say good bye !");
}

void frmMain::createMenus() {
    mnuFile = named(menuBar()->addMenu(QStringLiteral("&File")), "mnuFile");
    mnuUpload = item(mnuFile, "mnuUpload", "Copy to &CE");
    mnuDownload = item(mnuFile, "mnuDownload", "Copy to &PC");
    mnuEmpty1 = separator(mnuFile, "mnuEmpty1");
    mnuDir = item(mnuFile, "mnuDir", "&Directory view");
    mnuEmpty0 = separator(mnuFile, "mnuEmpty0");
    mnuExit = item(mnuFile, "mnuExit", "&Exit");

    mnuLog = named(menuBar()->addMenu(QStringLiteral("&Log")), "mnuLog");
    mnuClear = item(mnuLog, "mnuClear", "&Clear");
    mnuShow = item(mnuLog, "mnuShow", "&Show");

    mnuTools = named(menuBar()->addMenu(QStringLiteral("Tools")), "mnuTools");
    mnuClock = item(mnuTools, "mnuClock", "Clock");
    mnuIPAddr = item(mnuTools, "mnuIPAddr", "IP Address");
    mnuGateway = item(mnuTools, "mnuGateway", "Gateway Address");
    mnuSubnet = item(mnuTools, "mnuSubnet", "Subnet Mask");
    mnuBoot = named(mnuTools->addMenu(QStringLiteral("Boot")), "mnuBoot");
    mnuBoot->menuAction()->setObjectName(QStringLiteral("mnuBootItem"));
    mnuBWarm = item(mnuBoot, "mnuBWarm", "Warm");
    mnuBCold = item(mnuBoot, "mnuBCold", "Cold");
    mnuBFlash = item(mnuBoot, "mnuBFlash", "Flash");

    mnuAbout = named(menuBar()->addMenu(QStringLiteral("About")), "mnuAbout");
    mnuAboutVantor = item(mnuAbout, "mnuAboutVantor", "About");
}

void frmMain::connectHandlers() {
    connect(lbIPs, &QListWidget::itemClicked, this, &frmMain::lbIPs_Click);
    // Choosing with the arrow keys selects as a click does.
    connect(lbIPs, &QListWidget::currentRowChanged, this, [this](int row) {
        if (row >= 0) lbIPs_Click();
    });
    connect(lbIPs, &QListWidget::itemDoubleClicked, this, &frmMain::lbIPs_DblClick);
    connect(txtNewIP, &QLineEdit::textChanged, this, &frmMain::txtNewIP_Change);
    connect(cmdAdd, &QPushButton::clicked, this, &frmMain::cmdAdd_Click);
    connect(cmdDel, &QPushButton::clicked, this, &frmMain::cmdDel_Click);
    connect(cmdDisconnect, &QPushButton::clicked, this, &frmMain::cmdDisconnect_Click);
    connect(cmdClear, &QPushButton::clicked, this, &frmMain::cmdClear_Click);
    connect(cmdUpload, &QPushButton::clicked, this, &frmMain::cmdUpload_Click);
    connect(cbLog, &QPushButton::clicked, this, &frmMain::cbLog_Click);
    connect(cbAbout, &QPushButton::clicked, this, &frmMain::cbAbout_Click);
    connect(cbExit, &QPushButton::clicked, this, &frmMain::cbExit_Click);

    connect(mnuUpload, &QAction::triggered, this, &frmMain::mnuUpload_Click);
    connect(mnuDownload, &QAction::triggered, this, &frmMain::mnuDownload_Click);
    connect(mnuDir, &QAction::triggered, this, &frmMain::mnuDir_Click);
    connect(mnuExit, &QAction::triggered, this, &frmMain::cbExit_Click);
    connect(mnuClear, &QAction::triggered, this, &frmMain::cmdClear_Click);
    connect(mnuShow, &QAction::triggered, this, &frmMain::cbLog_Click);
    connect(mnuClock, &QAction::triggered, this, &frmMain::mnuClock_Click);
    connect(mnuIPAddr, &QAction::triggered, this, &frmMain::mnuIPAddr_Click);
    connect(mnuGateway, &QAction::triggered, this, &frmMain::mnuGateway_Click);
    connect(mnuSubnet, &QAction::triggered, this, &frmMain::mnuSubnet_Click);
    connect(mnuBWarm, &QAction::triggered, this, &frmMain::mnuBWarm_Click);
    connect(mnuBCold, &QAction::triggered, this, &frmMain::mnuBCold_Click);
    connect(mnuBFlash, &QAction::triggered, this, &frmMain::mnuBFlash_Click);
    connect(mnuAboutVantor, &QAction::triggered, this, &frmMain::cbAbout_Click);

    using platform::net::TcpClient;
    connect(sckShell_.get(), &TcpClient::connected, this, &frmMain::sckShell_Connect);
    connect(sckShell_.get(), &TcpClient::dataArrival, this, &frmMain::sckShell_DataArrival);
    connect(sckShell_.get(), &TcpClient::closed, this, &frmMain::sckShell_Close);
    connect(sckShell_.get(), &TcpClient::error, this, &frmMain::sckShell_Error);
}

void frmMain::Form_Load() {
    startSize_ = size();
    HookMinMax();

    const AppVersion v = appVersion();
    lbVersion->setText(QStringLiteral("%1.%2.%3")
                           .arg(v.major)
                           .arg(v.minor, 2, 10, QLatin1Char('0'))
                           .arg(v.revision, 4, 10, QLatin1Char('0')));

    histIndex_ = 0;
    restricted_ = true;
    restrictedWords_ = {"dir", "fdir", "boot", "copy", "exit", kAccessReference};
    ShowExpertItems(false);

    openLog();

    notifyCount_ = 0;
    EnableDeviceCommands(false);
    connectedIndex_ = -1;

    LoadIPList();
    cmdAdd->setEnabled(false);
    cmdDel->setEnabled(false);
    recordLayout();
}

void frmMain::EnableDeviceCommands(bool enable) {
    for (QWidget* w : {static_cast<QWidget*>(cmdUpload), static_cast<QWidget*>(cbLog)}) w->setEnabled(enable);
    for (QAction* a : {mnuShow, mnuDownload, mnuUpload, mnuClock, mnuIPAddr, mnuDir, mnuBoot->menuAction(),
                       mnuGateway, mnuSubnet})
        a->setEnabled(enable);
}

void frmMain::setStatus(const QString& text) {
    CStatusBar status;
    status.setText(text);
}

QString frmMain::statusText() const { return sbStatus->panelText(1); }

platform::net::TcpClient& frmMain::sckShell() { return *sckShell_; }

QString frmMain::HostIP() const { return sckShell_->RemoteHostIP(); }

quint16 frmMain::HostPort() const { return sckShell_->RemotePort(); }

void frmMain::cmdClear_Click() {
    console_.clear();
    showConsoleEdit();
}

void frmMain::cbAbout_Click() {
    frmAbout about(this);
    about.exec();
}

void frmMain::cbExit_Click() { close(); }

// ---- Layout and size limits ----

void frmMain::recordLayout() {
    const QSize form(toTwips(kDesignForm.width()), toTwips(kDesignForm.height()));
    auto add = [&](QWidget* w, unsigned rules) {
        const QRect g = w->geometry();
        const QRect twips(toTwips(g.x()), toTwips(g.y()), toTwips(g.width()), toTwips(g.height()));
        laidOut_.emplace_back(w, layout_.record(rules, twips, form));
    };
    using L = WindowLayout;
    add(Frame4, L::MoveLeft | L::SizeHeight);
    add(cmdUpload, L::MoveTop);
    add(cbLog, L::MoveTop);
    add(cbExit, L::MoveLeft | L::MoveTop);
    add(Frame3, L::SizeWidth | L::MoveTop);
    add(tbCmd, L::SizeWidth);
    add(Frame2, L::SizeWidth | L::SizeHeight);
    add(tbRcv, L::SizeWidth | L::SizeHeight);
    add(Frame1, L::SizeHeight);
    add(lbIPs, L::SizeHeight | L::Hysteresis);
    for (QWidget* w : {static_cast<QWidget*>(cmdDisconnect), static_cast<QWidget*>(txtNewIP),
                       static_cast<QWidget*>(cmdAdd), static_cast<QWidget*>(cmdDel)})
        add(w, L::MoveTop);
}

void frmMain::Form_Resize() {
    if (laidOut_.empty()) return;
    const QSize pixels = centralWidget()->size();
    const QSize form(toTwips(pixels.width()), toTwips(pixels.height()));
    for (const auto& [widget, index] : laidOut_) {
        const QRect g = widget->geometry();
        const QRect current(toTwips(g.x()), toTwips(g.y()), toTwips(g.width()), toTwips(g.height()));
        const QRect placed = layout_.place(index, current, form);
        widget->setGeometry(toPixels(placed.x()), toPixels(placed.y()), toPixels(placed.width()),
                            toPixels(placed.height()));
    }
}

void frmMain::HookMinMax() {
    if (hooked_) return;
    savedMinimum_ = minimumSize();
    savedMaximum_ = maximumSize();
    hooked_ = true;
    setMinimumSize(startSize_);
    if (!isMaximized()) setMaximumSize(maximumTrackingSize());
}

QSize frmMain::maximumTrackingSize() const {
    const QSize screen = this->screen() ? this->screen()->size() : QSize(1024, 768);
    // On a screen too small for the window the limits would contradict each other; the start size wins.
    return (screen - QSize(50, 50)).expandedTo(startSize_);
}

void frmMain::UnhookMinMax() {
    if (!hooked_) return;
    hooked_ = false;
    setMinimumSize(savedMinimum_);
    setMaximumSize(savedMaximum_);
}

void frmMain::changeEvent(QEvent* event) {
    // The limits hold in the normal state only: maximized, the window takes the whole screen.
    if (event->type() == QEvent::WindowStateChange && hooked_) {
        if (isMaximized())
            setMaximumSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
        else if (!isMinimized())
            setMaximumSize(maximumTrackingSize());
    }
    QMainWindow::changeEvent(event);
}

bool frmMain::eventFilter(QObject* watched, QEvent* event) {
    if (watched == centralWidget() && event->type() == QEvent::Resize) {
        Form_Resize();
    } else if (watched == tbCmd &&
               (event->type() == QEvent::KeyPress || event->type() == QEvent::KeyRelease)) {
        auto* key = static_cast<QKeyEvent*>(event);
        int code = 0;
        switch (key->key()) {
            case Qt::Key_Up:
                code = 38;
                break;
            case Qt::Key_Down:
                code = 40;
                break;
            case Qt::Key_Return:
            case Qt::Key_Enter:
                code = 13;
                break;
            default:
                break;
        }
        // A release counts only after its press reached the command line: the Enter that closes a hint
        // box is pressed in the box and released here, and must not send the line it left behind.
        if (code && event->type() == QEvent::KeyPress) {
            if (!key->isAutoRepeat()) pressedKey_ = code;
        } else if (code && !key->isAutoRepeat() && std::exchange(pressedKey_, 0) == code) {
            tbCmd_KeyUp(code, key->modifiers());
        }
    }
    return QMainWindow::eventFilter(watched, event);
}

// ---- Closing ----

void frmMain::closeEvent(QCloseEvent* event) {
    Form_Unload();
    event->accept();
}

void frmMain::Form_Unload() {
    if (unloaded_) return;
    unloaded_ = true;
    log_.close();
    if (!isMinimized()) platform::ui::storeWindowPlacement(*this, appTitle(), QStringLiteral("Settings"));
    // The other windows go first, the newest first; a copy hidden behind Abort ends with them.
    const QWidgetList windows = QApplication::topLevelWidgets();
    for (auto it = windows.crbegin(); it != windows.crend(); ++it)
        if (*it != this && (*it)->isVisible()) (*it)->close();
    endFileWindows(false);
    UnhookMinMax();
}

}  // namespace vantor
