#include "ferrow/app/c_main_frame.h"

#include <QAction>
#include <QCloseEvent>
#include <QEvent>
#include <QFontMetrics>
#include <QLabel>
#include <QMenuBar>
#include <QSplitter>
#include <QStatusBar>
#include <QTimer>
#include <QToolBar>

#include "ferrow/app/artwork.h"
#include "ferrow/app/c_about_dlg.h"
#include "ferrow/app/c_splash_wnd.h"
#include "ferrow/app/doc_template.h"
#include "ferrow/app/views/device_commands.h"
#include "ferrow/app/views/device_view.h"
#include "ferrow/app/views/tag_view.h"
#include "ferrow/model/cdoc.h"
#include "ferrow/opc/object_count.h"
#include "platform/ui/dialogs.h"

namespace ferrow {

namespace {
namespace mb = platform::ui::mb;
constexpr int kCommandUpdateMs = 250;
const QString kReady = QStringLiteral("Ready");
// The selection pane is as wide as this text.
const QString kSelectionSizingText = QStringLiteral("Device.Group.Group has 16 Tags");

QAction* makeAction(QObject* parent, const QString& text, const char* name, const QString& prompt,
                    QKeySequence shortcut = {}) {
    auto* action = new QAction(text, parent);
    action->setObjectName(QLatin1String(name));
    action->setStatusTip(prompt);
    if (!shortcut.isEmpty()) action->setShortcut(shortcut);
    return action;
}

void giveIcon(QAction* action, ToolIcon icon) {
    if (action && action->icon().isNull()) action->setIcon(toolIcon(icon));
}
}  // namespace

CMainFrame::CMainFrame(CDoc& doc, RecentFileList& recent, std::function<void()> stopComThread,
                       bool showSplash, QWidget* parent)
    : QMainWindow(parent), m_doc(doc), m_recent(recent), m_stopComThread(std::move(stopComThread)) {
    setObjectName(QStringLiteral("CMainFrame"));
    setWindowIcon(appIcon());
    resize(820, 520);
    OnCreateClient();
    OnCreate(showSplash);
    m_strTitle = DocTemplate::untitled();
    UpdateFrameTitle();
}

CMainFrame::~CMainFrame() = default;

void CMainFrame::OnCreateClient() {
    m_wndSplitter = new QSplitter(Qt::Horizontal, this);
    m_wndSplitter->setObjectName(QStringLiteral("m_wndSplitter"));
    m_wndSplitter->setChildrenCollapsible(false);
    m_pDeviceView = new CDeviceView(m_doc, m_wndSplitter);
    m_pTagView = new CTagView(m_doc, m_wndSplitter);
    m_wndSplitter->addWidget(m_pDeviceView);
    m_wndSplitter->addWidget(m_pTagView);
    m_wndSplitter->setStretchFactor(0, 1);
    m_wndSplitter->setStretchFactor(1, 2);
    setCentralWidget(m_wndSplitter);
    m_pCommands = new DeviceCommands(m_doc, *m_pDeviceView, this);
    m_pCommands->watchTagList(m_pTagView);
}

void CMainFrame::OnCreate(bool showSplash) {
    CreateMenus();
    CreateToolBar();
    CreateStatusBar();
    m_updateTimer = new QTimer(this);
    connect(m_updateTimer, &QTimer::timeout, this, &CMainFrame::UpdateCommandStates);
    m_updateTimer->start(kCommandUpdateMs);
    UpdateCommandStates();
    if (showSplash) CSplashWnd::ShowSplashScreen();
}

void CMainFrame::CreateMenus() {
    actFileNew = makeAction(this, QStringLiteral("&New"), "ID_FILE_NEW",
                            QStringLiteral("Create a new configuration"), QKeySequence::New);
    actFileOpen = makeAction(this, QStringLiteral("&Open..."), "ID_FILE_OPEN",
                             QStringLiteral("Open an existing configuration"), QKeySequence::Open);
    actFileSave = makeAction(this, QStringLiteral("&Save"), "ID_FILE_SAVE",
                             QStringLiteral("Save the configuration"), QKeySequence::Save);
    actFileSaveAs = makeAction(this, QStringLiteral("Save &As..."), "ID_FILE_SAVE_AS",
                               QStringLiteral("Save the configuration with a new name"));
    actAppExit = makeAction(this, QStringLiteral("E&xit"), "ID_APP_EXIT",
                            QStringLiteral("Quit the application; prompts to save the configuration"));
    actEditCut = makeAction(this, QStringLiteral("Cu&t"), "ID_EDIT_CUT", QStringLiteral("Cut the selection"),
                            QKeySequence::Cut);
    actEditCopy = makeAction(this, QStringLiteral("&Copy"), "ID_EDIT_COPY",
                             QStringLiteral("Copy the selection"), QKeySequence::Copy);
    actEditPaste = makeAction(this, QStringLiteral("&Paste"), "ID_EDIT_PASTE",
                              QStringLiteral("Insert the clipboard contents"), QKeySequence::Paste);
    for (QAction* never : {actEditCut, actEditCopy, actEditPaste}) never->setEnabled(false);
    actViewToolbar = makeAction(this, QStringLiteral("&Toolbar"), "ID_VIEW_TOOLBAR",
                                QStringLiteral("Show or hide the toolbar"));
    actViewStatusBar = makeAction(this, QStringLiteral("&Status Bar"), "ID_VIEW_STATUS_BAR",
                                  QStringLiteral("Show or hide the status bar"));
    actAppAbout = makeAction(this, QStringLiteral("&About Ferrow..."), "ID_APP_ABOUT",
                             QStringLiteral("Display program information, version number and copyright"));
    for (QAction* check : {actViewToolbar, actViewStatusBar}) {
        check->setCheckable(true);
        check->setChecked(true);
    }
    giveIcon(actFileNew, ToolIcon::New);
    giveIcon(actFileOpen, ToolIcon::Open);
    giveIcon(actFileSave, ToolIcon::Save);
    giveIcon(actAppAbout, ToolIcon::About);

    connect(actFileNew, &QAction::triggered, this, &CMainFrame::OnFileNew);
    connect(actFileOpen, &QAction::triggered, this, &CMainFrame::OnFileOpen);
    connect(actFileSave, &QAction::triggered, this, &CMainFrame::OnFileSave);
    connect(actFileSaveAs, &QAction::triggered, this, &CMainFrame::OnFileSaveAs);
    connect(actAppExit, &QAction::triggered, this, &CMainFrame::OnAppExit);
    connect(actAppAbout, &QAction::triggered, this, &CMainFrame::OnAppAbout);

    mnuFile = menuBar()->addMenu(QStringLiteral("&File"));
    mnuFile->setObjectName(QStringLiteral("mnuFile"));
    connect(mnuFile, &QMenu::aboutToShow, this, &CMainFrame::FillRecentFiles);
    FillRecentFiles();

    DeviceCommands& commands = *m_pCommands;
    mnuEdit = menuBar()->addMenu(QStringLiteral("&Edit"));
    mnuEdit->setObjectName(QStringLiteral("mnuEdit"));
    mnuEdit->addAction(actEditCut);
    mnuEdit->addAction(actEditCopy);
    mnuEdit->addAction(actEditPaste);
    mnuEdit->addSeparator();
    mnuEdit->addAction(commands.newDevice);
    mnuEdit->addAction(commands.deleteSelection);
    mnuEdit->addAction(commands.properties);
    mnuEdit->addSeparator();
    mnuEdit->addAction(commands.connectDevice);
    mnuEdit->addAction(commands.simulate);
    mnuEdit->addAction(commands.monitor);

    mnuView = menuBar()->addMenu(QStringLiteral("&View"));
    mnuView->setObjectName(QStringLiteral("mnuView"));
    mnuView->addAction(actViewToolbar);
    mnuView->addAction(actViewStatusBar);

    mnuHelp = menuBar()->addMenu(QStringLiteral("&Help"));
    mnuHelp->setObjectName(QStringLiteral("mnuHelp"));
    mnuHelp->addAction(actAppAbout);

    for (QMenu* menu : {mnuFile, mnuEdit, mnuView, mnuHelp}) WatchMenu(menu);
    giveIcon(commands.newDevice, ToolIcon::NewDevice);
    giveIcon(commands.deleteSelection, ToolIcon::Delete);
    giveIcon(commands.properties, ToolIcon::Properties);
    giveIcon(commands.connectDevice, ToolIcon::Connect);
    giveIcon(commands.simulate, ToolIcon::Simulate);
    giveIcon(commands.monitor, ToolIcon::Monitor);
}

void CMainFrame::WatchMenu(QMenu* menu) {
    // Fly-by help: the message pane shows the prompt of the command under the pointer.
    connect(menu, &QMenu::hovered, this, [this](QAction* action) {
        m_wndMessagePane->setText(action->statusTip().isEmpty() ? kReady : action->statusTip());
    });
    connect(menu, &QMenu::aboutToHide, this, [this] { m_wndMessagePane->setText(kReady); });
    connect(menu, &QMenu::aboutToShow, this, &CMainFrame::UpdateCommandStates);
}

void CMainFrame::CreateToolBar() {
    m_wndToolBar = addToolBar(QStringLiteral("Standard"));
    m_wndToolBar->setObjectName(QStringLiteral("m_wndToolBar"));
    m_wndToolBar->setIconSize(QSize(16, 16));
    m_wndToolBar->setAllowedAreas(Qt::AllToolBarAreas);
    m_wndToolBar->setMovable(true);
    m_wndToolBar->setFloatable(true);
    DeviceCommands& commands = *m_pCommands;
    m_wndToolBar->addAction(actFileNew);
    m_wndToolBar->addAction(actFileOpen);
    m_wndToolBar->addAction(actFileSave);
    m_wndToolBar->addSeparator();
    m_wndToolBar->addAction(commands.newDevice);
    m_wndToolBar->addAction(commands.deleteSelection);
    m_wndToolBar->addAction(commands.properties);
    m_wndToolBar->addSeparator();
    m_wndToolBar->addAction(commands.connectDevice);
    m_wndToolBar->addAction(commands.simulate);
    m_wndToolBar->addAction(commands.monitor);
    m_wndToolBar->addSeparator();
    m_wndToolBar->addAction(actAppAbout);
    m_wndToolBar->installEventFilter(this);
    for (QAction* action : m_wndToolBar->actions())
        connect(action, &QAction::hovered, this, [this, action] {
            if (!action->statusTip().isEmpty()) m_wndMessagePane->setText(action->statusTip());
        });
    connect(actViewToolbar, &QAction::toggled, m_wndToolBar, &QWidget::setVisible);
    connect(m_wndToolBar, &QToolBar::visibilityChanged, actViewToolbar, &QAction::setChecked);
}

void CMainFrame::CreateStatusBar() {
    m_wndMessagePane = new QLabel(kReady, this);
    m_wndMessagePane->setObjectName(QStringLiteral("m_wndMessagePane"));
    m_wndSelectionPane = new QLabel(this);
    m_wndSelectionPane->setObjectName(QStringLiteral("m_wndSelectionPane"));
    m_wndSelectionPane->setFrameShape(QFrame::Panel);
    m_wndSelectionPane->setFrameShadow(QFrame::Sunken);
    m_wndSelectionPane->setMinimumWidth(
        QFontMetrics(m_wndSelectionPane->font()).horizontalAdvance(kSelectionSizingText) + 8);
    statusBar()->addWidget(m_wndMessagePane, 1);
    statusBar()->addPermanentWidget(m_wndSelectionPane);
    connect(actViewStatusBar, &QAction::toggled, statusBar(), &QWidget::setVisible);
    connect(m_pCommands, &DeviceCommands::selectionPaneChanged, m_wndSelectionPane, &QLabel::setText);
}

void CMainFrame::showEvent(QShowEvent* event) {
    QMainWindow::showEvent(event);
    if (m_bSplitterSized) return;
    m_bSplitterSized = true;
    const int width = m_wndSplitter->width();
    m_wndSplitter->setSizes({width / 3, width - width / 3});
}

bool CMainFrame::eventFilter(QObject* watched, QEvent* event) {
    if (watched == m_wndToolBar && event->type() == QEvent::Leave) m_wndMessagePane->setText(kReady);
    return QMainWindow::eventFilter(watched, event);
}

void CMainFrame::UpdateCommandStates() {
    const bool idle = m_pCommands->filesMayChange();
    actFileNew->setEnabled(idle);
    actFileOpen->setEnabled(idle);
    for (QAction* recent : mnuFile->actions())
        if (recent->property("recentIndex").isValid()) recent->setEnabled(idle);
    m_pCommands->updateStates();
    m_wndSelectionPane->setText(m_pCommands->selectionPaneText());
}

bool CMainFrame::ConfirmExitWithClients(int icon) {
    if (objectCount.load() == 0) return true;
    const int answer = platform::ui::msgBox(
        QStringLiteral("OPC Clients are currently connected to this server, Exit anyway?"), mb::YesNo | icon,
        QStringLiteral("FERROW"));
    if (answer != mb::Yes) return false;
    m_bCutOffClients = true;
    return true;
}

void CMainFrame::OnAppExit() {
    if (!ConfirmExitWithClients(mb::Exclamation)) return;
    m_bExitConfirmed = true;
    close();
    m_bExitConfirmed = false;
    m_bCutOffClients = false;
}

void CMainFrame::closeEvent(QCloseEvent* event) {
    // The close box asks with the stop icon; Exit has asked already.
    if (!m_bExitConfirmed && !ConfirmExitWithClients(mb::Critical)) {
        event->ignore();
        return;
    }
    // The save question comes before the clients are cut off: whoever cancels it is back in a server
    // whose clients never noticed anything.
    if (!SaveModified()) {
        m_bCutOffClients = false;
        event->ignore();
        return;
    }
    m_updateTimer->stop();
    if (m_bCutOffClients && m_stopComThread) m_stopComThread();
    m_bCutOffClients = false;
    event->accept();
}

void CMainFrame::OnAppAbout() {
    CAboutDlg about(this);
    about.exec();
}

void CMainFrame::BringToFront() {
    if (isMinimized() || isHidden()) showNormal();
    raise();
    activateWindow();
}

void CMainFrame::UpdateFrameTitle() {
    setWindowTitle(m_strTitle + QStringLiteral(" - ") + DocTemplate::windowTitle());
}

}  // namespace ferrow
