#include "vantor/files/copy_window.h"

#include <QCheckBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>

#include "platform/ui/dialogs.h"
#include "platform/ui/status_bar.h"

namespace vantor::files {

namespace mb = platform::ui::mb;

namespace {
QLineEdit* pathBox(const QString& label, const char* name, int row, QGridLayout* grid, QWidget* parent) {
    auto* caption = new QLabel(label, parent);
    auto* box = new QLineEdit(parent);
    box->setObjectName(QLatin1String(name));
    box->setMinimumWidth(320);
    caption->setBuddy(box);
    grid->addWidget(caption, row, 0);
    grid->addWidget(box, row, 1);
    return box;
}
}  // namespace

CopyWindow::CopyWindow(ShellHost& host, FCEBrowse& browser, const QString& sourceLabel,
                       const QString& destLabel, QWidget* parent)
    : QDialog(parent), data(this), host_(host), browser_(browser) {
    setModal(true);
    auto* outer = new QVBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    auto* body = new QWidget(this);
    grid_ = new QGridLayout(body);
    txtSource = pathBox(sourceLabel, "txtSource", 0, grid_, body);
    txtDest = pathBox(destLabel, "txtDest", 1, grid_, body);
    pbProgress = new QProgressBar(body);
    pbProgress->setObjectName(QStringLiteral("pbProgress"));
    pbProgress->setAccessibleName(QStringLiteral("Copy progress"));
    pbProgress->setTextVisible(false);
    pbProgress->hide();
    grid_->addWidget(pbProgress, 3, 0, 1, 3);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    cmdCopy = new QPushButton(QStringLiteral("Copy"), body);
    cmdCopy->setObjectName(QStringLiteral("cmdCopy"));
    cmdDone = new QPushButton(QStringLiteral("Done"), body);
    cmdDone->setObjectName(QStringLiteral("cmdDone"));
    buttons->addWidget(cmdCopy);
    buttons->addWidget(cmdDone);
    grid_->addLayout(buttons, 4, 0, 1, 3);
    outer->addWidget(body);
    sbCopyMsg = new platform::ui::StatusBar(1, this);
    sbCopyMsg->setObjectName(QStringLiteral("sbCopyMsg"));
    sbCopyMsg->setPanelText(1, QStringLiteral("Ready"));
    sbCopyMsg->setSizeGripEnabled(false);
    outer->addWidget(sbCopyMsg);
}

QPushButton* CopyWindow::browseButton(int row, const char* name, const QString& accessibleName) {
    auto* b = new QPushButton(QStringLiteral("..."), txtSource->parentWidget());
    b->setObjectName(QLatin1String(name));
    b->setAccessibleName(accessibleName);
    b->setFixedWidth(32);
    grid_->addWidget(b, row, 2);
    return b;
}

QCheckBox* CopyWindow::checkBox(const QString& caption, const char* name, int column) {
    auto* box = new QCheckBox(caption, txtSource->parentWidget());
    box->setObjectName(QLatin1String(name));
    grid_->addWidget(box, 2, 1, (column == 0 ? Qt::AlignLeft : Qt::AlignRight) | Qt::AlignVCenter);
    return box;
}

void CopyWindow::begin() {
    closing_ = false;
    cmdCopy->setEnabled(true);
    notifyHandle_.subscribe(this);
    cmdDone->setText(QStringLiteral("Done"));
}

void CopyWindow::Start() {
    if (copying_) {
        notifyHandle_.subscribe(this);
        show();
        raise();
        activateWindow();
        return;
    }
    begin();
    exec();
}

void CopyWindow::reject() {
    closing_ = true;
    data.close();
    notifyHandle_.release();
    QDialog::reject();
}

bool CopyWindow::openDataConnection() {
    switch (data.open(host_)) {
        case DataConnection::ConnectResult::Connected:
            return true;
        case DataConnection::ConnectResult::Refused:
            platform::ui::msgBox(QStringLiteral("Unable to connect !"), mb::Critical);
            return false;
        case DataConnection::ConnectResult::TimedOut:
            platform::ui::msgBox(QStringLiteral("Connection timeout !\r\nCan not copy file ! - aborted"),
                                 mb::Critical);
            return false;
    }
    return false;
}

}  // namespace vantor::files
