#include "lintra/frm_main.h"

#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QFile>
#include <QFontDatabase>
#include <QFrame>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "iplist/ip_list_combo.h"
#include "iplist/server_link.h"
#include "lintra/text_lines.h"
#include "platform/files/atomic_file.h"
#include "platform/ui/dialogs.h"
#include "platform/ui/status_bar.h"
#include "platform/ui/time_scale.h"
#include "platform/ui/wait.h"
#include "platform/ui/window_placement.h"

namespace lintra {

namespace {
constexpr const char* kSection = "Settings";
// An SQL file is a handful of statements; anything far larger is not one.
constexpr qint64 kMaxSqlFile = 16 * 1024 * 1024;
const char* const kSqlFilter = "(*.txt)|*.txt";

QString latin1(const QByteArray& bytes) { return QString::fromLatin1(bytes); }

QString appTitle() { return QLatin1String(frmMain::kAppTitle); }

QPushButton* button(const QString& caption, const char* name, QWidget* parent) {
    auto* b = new QPushButton(caption, parent);
    b->setObjectName(QLatin1String(name));
    return b;
}
}  // namespace

frmMain::frmMain(QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("frmMain"));
    buildControls();
    setWindowTitle(QStringLiteral("Lintra  %1.%2.%3")
                       .arg(QUILLON_VERSION_MAJOR)
                       .arg(QUILLON_VERSION_MINOR)
                       .arg(QUILLON_VERSION_PATCH));
    platform::ui::restoreWindowPosition(*this, appTitle(), QLatin1String(kSection));

    Timer1.setInterval(100);
    connect(&Timer1, &QTimer::timeout, this, &frmMain::Timer1_Timer);
    schemaWatch_.setSingleShot(true);
    connect(&schemaWatch_, &QTimer::timeout, this, [this] {
        if (schemaMode_)
            endSchemaPhase(QStringLiteral("No schema from the device within %1 seconds")
                               .arg(kAnswerLimit.count() / 1000));
    });
    connect(&Winsock1, &platform::net::TcpClient::dataArrival, this, &frmMain::Winsock1_DataArrival);
    connect(&Winsock1, &platform::net::TcpClient::error, this, &frmMain::Winsock1_Error);
    serverLink_ = std::make_unique<iplist::ServerLink>(*cbIPs, *cbConnect, Winsock1, Timer1, kPort,
                                                       [this](const QString& text) { SetStatus(2, text); });

    SetStatus(1, QStringLiteral("Load"));
    LoadIPList();
    ClearSchema();
    SetStatus(1, QStringLiteral("Ready"));
    frTabs->setVisible(true);
}

frmMain::~frmMain() = default;

void frmMain::buildControls() {
    const QFont fixed = QFontDatabase::systemFont(QFontDatabase::FixedFont);

    Frame1 = new QGroupBox(QStringLiteral(" Server "), this);
    Frame1->setObjectName(QStringLiteral("Frame1"));
    cbIPs = new QComboBox(Frame1);
    cbIPs->setObjectName(QStringLiteral("cbIPs"));
    cbIPs->setEditable(true);
    // What assistive tools read: plain words, not the control's code name. The edit inside the box
    // carries them too, since on some platforms a combo box's name is its current text.
    cbIPs->setAccessibleName(QStringLiteral("Server address"));
    cbIPs->lineEdit()->setAccessibleName(cbIPs->accessibleName());
    cbIPs->setInsertPolicy(QComboBox::NoInsert);
    cbIPs->setToolTip(QStringLiteral("Edit IP Adr here"));
    cbIPs->setMinimumWidth(180);
    cbConnect = button(QStringLiteral("Connect"), "cbConnect", Frame1);
    auto* serverRow = new QHBoxLayout(Frame1);
    serverRow->addWidget(cbIPs, 1);
    serverRow->addWidget(cbConnect);

    Label1 = new QLabel(QStringLiteral("Tables"), this);
    Label1->setObjectName(QStringLiteral("Label1"));
    lbDBs = new QListWidget(this);
    lbDBs->setObjectName(QStringLiteral("lbDBs"));
    Label1->setBuddy(lbDBs);
    Label2 = new QLabel(QStringLiteral("Items"), this);
    Label2->setObjectName(QStringLiteral("Label2"));
    lbItems = new QListWidget(this);
    lbItems->setObjectName(QStringLiteral("lbItems"));
    Label2->setBuddy(lbItems);
    // Qt's list views don't take their name from a buddy label: they get the label's words.
    lbDBs->setAccessibleName(Label1->text());
    lbItems->setAccessibleName(Label2->text());

    frTabs = new QFrame(this);
    frTabs->setObjectName(QStringLiteral("frTabs"));
    frTabs->setVisible(false);
    tbSQL = new QPlainTextEdit(frTabs);
    tbSQL->setObjectName(QStringLiteral("tbSQL"));
    tbSQL->setAccessibleName(QStringLiteral("SQL statements"));
    tbSQL->setFont(fixed);
    cbSend = button(QStringLiteral("Send"), "cbSend", frTabs);
    cbSend->setEnabled(false);
    cbOpenFile = button(QStringLiteral("Open File ..."), "cbOpenFile", frTabs);
    cbSaveFile = button(QStringLiteral("Save File ..."), "cbSaveFile", frTabs);
    cbClrSQL = button(QStringLiteral("Clear"), "cbClrSQL", frTabs);
    tbResult = new QPlainTextEdit(frTabs);
    tbResult->setObjectName(QStringLiteral("tbResult"));
    tbResult->setAccessibleName(QStringLiteral("Answers from the device"));
    tbResult->setReadOnly(true);
    tbResult->setFont(fixed);
    cbClrAnswer = button(QStringLiteral("Clear"), "cbClrAnswer", frTabs);
    cbExit = button(QStringLiteral("Exit"), "cbExit", this);

    auto* sqlButtons = new QVBoxLayout;
    for (QPushButton* b : {cbSend, cbOpenFile, cbSaveFile, cbClrSQL}) sqlButtons->addWidget(b);
    sqlButtons->addStretch();
    auto* resultButtons = new QVBoxLayout;
    resultButtons->addWidget(cbClrAnswer);
    resultButtons->addStretch();
    auto* tabs = new QGridLayout(frTabs);
    tabs->setContentsMargins(0, 0, 0, 0);
    tabs->addWidget(tbSQL, 0, 0);
    tabs->addLayout(sqlButtons, 0, 1);
    tabs->addWidget(tbResult, 1, 0);
    tabs->addLayout(resultButtons, 1, 1);
    tabs->setRowStretch(0, 1);
    tabs->setRowStretch(1, 2);

    StatusBar1 = new platform::ui::StatusBar(
        {{QStringLiteral("StatusBar1Panel1"), 3}, {QStringLiteral("StatusBar1Panel2"), 2}}, this);
    StatusBar1->setObjectName(QStringLiteral("StatusBar1"));
    StatusBar1->setSizeGripEnabled(false);

    auto* lists = new QVBoxLayout;
    lists->addWidget(Frame1);
    lists->addWidget(Label1);
    lists->addWidget(lbDBs, 3);
    lists->addWidget(Label2);
    lists->addWidget(lbItems, 2);
    lists->addWidget(cbExit);
    auto* body = new QHBoxLayout;
    body->addLayout(lists, 2);
    body->addWidget(frTabs, 5);
    auto* root = new QVBoxLayout(this);
    root->setContentsMargins(8, 8, 8, 0);
    root->addLayout(body, 1);
    root->addWidget(StatusBar1);
    resize(860, 560);

    connect(cbConnect, &QPushButton::clicked, this, &frmMain::cbConnect_Click);
    connect(cbSend, &QPushButton::clicked, this, &frmMain::cbSend_Click);
    connect(cbOpenFile, &QPushButton::clicked, this, &frmMain::cbOpenFile_Click);
    connect(cbSaveFile, &QPushButton::clicked, this, &frmMain::cbSaveFile_Click);
    connect(cbClrSQL, &QPushButton::clicked, this, &frmMain::cbClrSQL_Click);
    connect(cbClrAnswer, &QPushButton::clicked, this, &frmMain::cbClrAnswer_Click);
    connect(cbExit, &QPushButton::clicked, this, &QWidget::close);
    connect(lbDBs, &QListWidget::itemClicked, this,
            [this](QListWidgetItem* item) { lbDBs_Click(lbDBs->row(item)); });
    connect(lbDBs, &QListWidget::itemDoubleClicked, this,
            [this](QListWidgetItem* item) { lbDBs_DblClick(lbDBs->row(item)); });
    connect(lbItems, &QListWidget::itemDoubleClicked, this,
            [this](QListWidgetItem* item) { lbItems_DblClick(lbItems->row(item)); });
}

QString frmMain::statusText(int panel) const { return StatusBar1->panelText(panel); }

void frmMain::SetStatus(int panel, const QString& text) { StatusBar1->setPanelText(panel, text); }

// ---- IP list --------------------------------------------------------------------------------------

void frmMain::LoadIPList() { iplist::loadLastHostCombo(*cbIPs, appTitle()); }

void frmMain::SaveIPList() {
    if (!iplist::saveLastHostCombo(*cbIPs, appTitle()))
        platform::ui::msgBox(QString::fromLatin1(iplist::kSaveFailedMessage));
}

// ---- connection -----------------------------------------------------------------------------------

int frmMain::connState() const { return serverLink_->state(); }

void frmMain::cbConnect_Click() {
    if (serverLink_->offersConnect()) {
        serverLink_->connect();
        return;
    }
    ClearSchema();
    if (schemaMode_) endSchemaPhase(QStringLiteral("Ready"));
    awaitReply_ = false;
    serverLink_->disconnect();
}

void frmMain::Timer1_Timer() {
    switch (serverLink_->poll()) {
        case iplist::ServerLink::Change::Up:
            cbSend->setEnabled(true);
            requestSchema();
            break;
        case iplist::ServerLink::Change::Lost:
            cbSend->setEnabled(false);
            if (schemaMode_)
                endSchemaPhase(QStringLiteral("Connection closed before the schema was complete"));
            break;
        case iplist::ServerLink::Change::None:
            break;
    }
}

void frmMain::requestSchema() {
    busy_ = true;
    ClearSchema();
    SetStatus(1, QStringLiteral("Waiting for Schema"));
    schemaMode_ = true;
    schemaWatch_.start(platform::scaled(kAnswerLimit));
    Winsock1.SendData("#schema\r\n");
}

void frmMain::endSchemaPhase(const QString& status) {
    schemaWatch_.stop();
    schemaMode_ = false;
    awaitReply_ = false;
    busy_ = false;
    SetStatus(1, status);
}

void frmMain::ClearSchema() {
    lbDBs->clear();
    lbItems->clear();
    curTable_ = nullptr;
    schemaReader_.reset();
    tables_.Clear();
}

void frmMain::Winsock1_DataArrival() {
    const QByteArray data = Winsock1.GetData();
    if (data.isEmpty()) return;
    if (!schemaMode_) {
        AppendResult(data);
        awaitReply_ = false;
        return;
    }
    schemaWatch_.start(platform::scaled(kAnswerLimit));
    for (const SchemaReader::Event& event : schemaReader_.feed(data)) {
        switch (event.kind) {
            case SchemaReader::Event::Kind::Table:
                curTable_ = &tables_.Item(tables_.Count());
                lbDBs->addItem(latin1(event.text));
                break;
            case SchemaReader::Event::Kind::Answer:
                ShowLine("< ", event.text);
                break;
            case SchemaReader::Event::Kind::End:
                endSchemaPhase(QStringLiteral("Ready"));
                break;
        }
    }
}

void frmMain::Winsock1_Error(int, const QString& description) {
    QApplication::beep();
    SetStatus(1, QStringLiteral("Winsock Error: ") + description);
    SetStatus(2, {});
    awaitReply_ = false;
    if (schemaMode_) {
        schemaWatch_.stop();
        schemaMode_ = false;
        busy_ = false;
    }
    serverLink_->drop();
}

// ---- SQL ------------------------------------------------------------------------------------------

void frmMain::SendSQL(const QByteArray& text) {
    busy_ = true;
    SqlScript script(text);
    while (const std::optional<QByteArray> line = script.next()) {
        if (connState() != iplist::ServerLink::Connected) break;
        ShowLine("> ", *line);
        awaitReply_ = true;
        if (!Winsock1.SendData(*line + "\r\n")) {
            awaitReply_ = false;
            SetStatus(1, QStringLiteral("Not connected: the rest was not sent"));
            break;
        }
        const auto lost = [this] {
            return connState() != iplist::ServerLink::Connected ||
                   Winsock1.state() != platform::net::TcpClient::Connected;
        };
        platform::ui::waitUntil([&] { return !awaitReply_ || lost(); }, platform::scaled(kAnswerLimit));
        if (!awaitReply_) continue;
        // No answer: the rest of the text would only pile up behind this line.
        awaitReply_ = false;
        SetStatus(1, lost() ? QStringLiteral("Connection lost while waiting for an answer")
                            : QStringLiteral("No answer from the device within %1 seconds")
                                  .arg(kAnswerLimit.count() / 1000));
        break;
    }
    busy_ = false;
}

void frmMain::cbSend_Click() {
    if (busy_) return;
    SendSQL(tbSQL->toPlainText().toLatin1());
}

void frmMain::lbDBs_Click(int row) {
    if (busy_ || row < 0 || row >= tables_.Count()) return;
    curTable_ = &tables_.Item(row + 1);
    lbItems->clear();
    for (const DBColumn& column : curTable_->mColumns) lbItems->addItem(latin1(column.mName));
}

void frmMain::lbDBs_DblClick(int row) {
    if (busy_ || row < 0 || row >= tables_.Count()) return;
    SendSQL("SELECT * FROM " + tables_.Item(row + 1).mName + ";");
}

void frmMain::lbItems_DblClick(int row) {
    if (busy_ || !curTable_ || row < 0 || row >= curTable_->mColumns.Count()) return;
    SendSQL("SELECT " + curTable_->mColumns.Item(row + 1).mName + " FROM " + curTable_->mName + ";");
}

// ---- result pane ----------------------------------------------------------------------------------

void frmMain::AppendResult(const QByteArray& text) {
    appendCapped(resultText_, text);
    showResult();
}

void frmMain::ShowLine(const QByteArray& prefix, const QByteArray& line) {
    AppendResult(prefix + line + "\r\n");
}

void frmMain::showResult() {
    QByteArray shown = resultText_;
    shown.replace("\r\n", "\n");
    tbResult->setPlainText(QString::fromLatin1(shown));
    tbResult->moveCursor(QTextCursor::End);
    tbResult->ensureCursorVisible();
}

void frmMain::cbClrAnswer_Click() {
    resultText_.clear();
    tbResult->clear();
}

void frmMain::cbClrSQL_Click() {
    tbSQL->clear();
    tbSQL->setFocus();
}

// ---- files ----------------------------------------------------------------------------------------

void frmMain::cbOpenFile_Click() {
    platform::ui::FileDialogRequest request;
    request.kind = platform::ui::FileDialogRequest::Kind::Open;
    request.title = QStringLiteral("Select SQL file ...");
    request.filter = QLatin1String(kSqlFilter);
    request.fileMustExist = true;
    const QString path = platform::ui::dialogs().fileDialog(request);
    if (path.isEmpty()) return;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        platform::ui::msgBox(
            QStringLiteral("Couldn't read the file\r\n") + path + QStringLiteral("\r\n") + file.errorString(),
            platform::ui::mb::Exclamation);
        return;
    }
    if (file.size() > kMaxSqlFile) {
        platform::ui::msgBox(QStringLiteral("The file is too large for an SQL script:\r\n") + path,
                             platform::ui::mb::Exclamation);
        return;
    }
    QByteArray rest = file.readAll();
    QByteArray lines;
    while (!rest.isEmpty()) lines += TakeLine(rest) + "\n";
    tbSQL->setPlainText(QString::fromLatin1(lines));
}

void frmMain::cbSaveFile_Click() {
    platform::ui::FileDialogRequest request;
    request.kind = platform::ui::FileDialogRequest::Kind::Save;
    request.title = QStringLiteral("Save SQL file as ...");
    request.filter = QLatin1String(kSqlFilter);
    request.overwritePrompt = true;
    const QString path = platform::ui::dialogs().fileDialog(request);
    if (path.isEmpty()) return;
    QByteArray text = tbSQL->toPlainText().toLatin1();
    text.replace("\n", "\r\n");
    QString error;
    if (!platform::writeFileAtomically(path, text + "\r\n", &error))
        platform::ui::msgBox(
            QStringLiteral("Couldn't save the file\r\n") + path + QStringLiteral("\r\n") + error,
            platform::ui::mb::Exclamation);
}

// ---- exit -----------------------------------------------------------------------------------------

void frmMain::closeEvent(QCloseEvent* event) {
    unload();
    event->accept();
}

void frmMain::unload() {
    if (unloaded_) return;
    unloaded_ = true;
    awaitReply_ = false;
    Timer1.stop();
    schemaWatch_.stop();
    serverLink_->drop();
    if (isMinimized()) return;
    SaveIPList();
    platform::ui::storeWindowPlacement(*this, appTitle(), QLatin1String(kSection));
}

}  // namespace lintra
