#pragma once

#include <QByteArray>
#include <QTimer>
#include <QWidget>
#include <chrono>
#include <memory>

#include "lintra/db_schema.h"
#include "lintra/schema_reader.h"
#include "platform/net/tcp_client.h"

class QComboBox;
class QGroupBox;
class QLabel;
class QListWidget;
class QPlainTextEdit;
class QPushButton;
class QFrame;

namespace iplist {
class ServerLink;
}

namespace platform::ui {
class StatusBar;
}

namespace lintra {

// Lintra's one window: connects to a device's SQL port, fetches and lists the schema, sends SQL lines
// (typed, loaded from a file or made by a double-click) one per answer and shows what comes back.
// Owns the connection, the schema and the result text; runs on the UI thread.
class frmMain : public QWidget {
    Q_OBJECT
  public:
    static constexpr const char* kAppTitle = "Lintra";
    static constexpr quint16 kPort = 5050;
    // A device that stays silent this long after a request (or the schema request) is given up on.
    static constexpr std::chrono::milliseconds kAnswerLimit{30000};

    explicit frmMain(QWidget* parent = nullptr);
    ~frmMain() override;

    // Handlers, named after control and event.
    void cbConnect_Click();
    void cbSend_Click();
    void lbDBs_Click(int row);
    void lbDBs_DblClick(int row);
    void lbItems_DblClick(int row);
    void cbOpenFile_Click();
    void cbSaveFile_Click();
    void cbClrSQL_Click();
    void cbClrAnswer_Click();

    // Sends every line of `text` that is not empty or a comment, each after the answer to the one before.
    void SendSQL(const QByteArray& text);

    int connState() const;
    bool busy() const { return busy_; }
    bool schemaMode() const { return schemaMode_; }
    const DBTables& tables() const { return tables_; }
    const DBTable* curTable() const { return curTable_; }
    // The result pane's text as received (8-bit, line ends as they came).
    const QByteArray& resultText() const { return resultText_; }
    QString statusText(int panel) const;

    QGroupBox* Frame1;
    QComboBox* cbIPs;
    QPushButton* cbConnect;
    QLabel* Label1;
    QListWidget* lbDBs;
    QLabel* Label2;
    QListWidget* lbItems;
    QFrame* frTabs;
    QPlainTextEdit* tbSQL;
    QPushButton* cbSend;
    QPushButton* cbOpenFile;
    QPushButton* cbSaveFile;
    QPushButton* cbClrSQL;
    QPlainTextEdit* tbResult;
    QPushButton* cbClrAnswer;
    QPushButton* cbExit;
    platform::ui::StatusBar* StatusBar1;
    platform::net::TcpClient Winsock1;
    QTimer Timer1;

  protected:
    void closeEvent(QCloseEvent* event) override;

  private:
    void buildControls();
    void LoadIPList();
    void SaveIPList();
    void ClearSchema();
    void AppendResult(const QByteArray& text);
    void ShowLine(const QByteArray& prefix, const QByteArray& line);
    void SetStatus(int panel, const QString& text);
    void Timer1_Timer();
    void Winsock1_DataArrival();
    void Winsock1_Error(int number, const QString& description);
    void requestSchema();
    void endSchemaPhase(const QString& status);
    void showResult();
    void unload();

    std::unique_ptr<iplist::ServerLink> serverLink_;  // cbIPs, cbConnect, Winsock1 and Timer1 in step
    bool busy_ = false;
    bool awaitReply_ = false;
    bool schemaMode_ = false;
    bool unloaded_ = false;
    DBTables tables_;
    DBTable* curTable_ = nullptr;
    SchemaReader schemaReader_{tables_};
    QTimer schemaWatch_;  // silence during the schema answer
    QByteArray resultText_;
};

}  // namespace lintra
