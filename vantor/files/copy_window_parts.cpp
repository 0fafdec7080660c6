#include "vantor/files/copy_window_parts.h"

#include <QCheckBox>
#include <QDialog>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>
#include <algorithm>
#include <limits>

#include "vantor/common/status_bar.h"

namespace vantor::files {

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

CopyWindowParts::CopyWindowParts(QDialog* w, const QString& sourceLabel, const QString& destLabel) : window(w) {
    auto* outer = new QVBoxLayout(window);
    outer->setContentsMargins(0, 0, 0, 0);
    auto* body = new QWidget(window);
    grid = new QGridLayout(body);
    txtSource = pathBox(sourceLabel, "txtSource", 0, grid, body);
    txtDest = pathBox(destLabel, "txtDest", 1, grid, body);
    pbProgress = new QProgressBar(body);
    pbProgress->setObjectName(QStringLiteral("pbProgress"));
    pbProgress->setAccessibleName(QStringLiteral("Copy progress"));
    pbProgress->setTextVisible(false);
    pbProgress->hide();
    grid->addWidget(pbProgress, 3, 0, 1, 3);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    cmdCopy = new QPushButton(QStringLiteral("Copy"), body);
    cmdCopy->setObjectName(QStringLiteral("cmdCopy"));
    cmdDone = new QPushButton(QStringLiteral("Done"), body);
    cmdDone->setObjectName(QStringLiteral("cmdDone"));
    buttons->addWidget(cmdCopy);
    buttons->addWidget(cmdDone);
    grid->addLayout(buttons, 4, 0, 1, 3);
    outer->addWidget(body);
    sbCopyMsg = new StatusBar(1, window);
    sbCopyMsg->setObjectName(QStringLiteral("sbCopyMsg"));
    sbCopyMsg->setPanelText(1, QStringLiteral("Ready"));
    sbCopyMsg->setSizeGripEnabled(false);
    outer->addWidget(sbCopyMsg);
}

QPushButton* CopyWindowParts::browseButton(int row, const char* name, const QString& accessibleName) {
    auto* b = new QPushButton(QStringLiteral("..."), txtSource->parentWidget());
    b->setObjectName(QLatin1String(name));
    b->setAccessibleName(accessibleName);
    b->setFixedWidth(32);
    grid->addWidget(b, row, 2);
    return b;
}

QCheckBox* CopyWindowParts::checkBox(const QString& caption, const char* name, int column) {
    auto* box = new QCheckBox(caption, txtSource->parentWidget());
    box->setObjectName(QLatin1String(name));
    grid->addWidget(box, 2, 1, (column == 0 ? Qt::AlignLeft : Qt::AlignRight) | Qt::AlignVCenter);
    return box;
}

void showRunningCopy(QDialog* window, NotifySubscription& subscription, NotifyClient* client) {
    subscription.subscribe(client);
    window->show();
    window->raise();
    window->activateWindow();
}

ProgressScale::ProgressScale(QProgressBar* bar, qint64 total) : bar_(bar) {
    while (total / unit_ > std::numeric_limits<int>::max()) unit_ *= 1024;
    end_ = static_cast<int>(total / unit_);
    step_ = std::max(1, end_ / kSteps);
    bar_->setRange(0, end_);
    bar_->setValue(0);
    bar_->show();
}

void ProgressScale::set(qint64 done) {
    const int value = static_cast<int>(std::min<qint64>(done / unit_, end_));
    if (value - shown_ < step_ && !(value == end_ && shown_ != end_)) return;
    shown_ = value;
    bar_->setValue(value);
}

void ProgressScale::hide() { bar_->hide(); }

}  // namespace vantor::files
