#include "ferrow/app/c_about_dlg.h"

#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include "ferrow/app/artwork.h"

namespace ferrow {

CAboutDlg::CAboutDlg(QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("CAboutDlg"));
    setWindowTitle(QStringLiteral("About Ferrow"));
    auto* icon = new QLabel(this);
    icon->setPixmap(appIcon().pixmap(48, 48));
    icon->setAccessibleName(QStringLiteral("Ferrow program icon"));
    auto* name = new QLabel(
        QStringLiteral("Morvane Ferrow Server Version %1").arg(QStringLiteral(FERROW_VERSION)), this);
    auto* what = new QLabel(QStringLiteral("OPC Data Access server for Quillon 2000 controllers"), this);
    auto* maker = new QLabel(QStringLiteral("Copyright (C) Morvane, GmbH"), this);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok, this);
    cmdOK = buttons->button(QDialogButtonBox::Ok);
    cmdOK->setObjectName(QStringLiteral("cmdOK"));
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);

    auto* texts = new QVBoxLayout;
    texts->addWidget(name);
    texts->addWidget(what);
    texts->addWidget(maker);
    auto* top = new QHBoxLayout;
    top->addWidget(icon, 0, Qt::AlignTop);
    top->addSpacing(12);
    top->addLayout(texts);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(top);
    layout->addWidget(buttons);
    setFixedSize(sizeHint());
}

}  // namespace ferrow
