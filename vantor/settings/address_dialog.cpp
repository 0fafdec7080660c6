#include "vantor/settings/address_dialog.h"

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include "platform/ui/dialogs.h"
#include "vantor/common/app_info.h"
#include "vantor/settings/setting_rules.h"

namespace vantor {

AddressDialog::AddressDialog(const Design& design, QWidget* owner) : QDialog(owner), kind_(design.kind) {
    setWindowTitle(QString::fromLatin1(design.caption));
    setFixedSize(330, 130);

    auto* label = new QLabel(QString::fromLatin1(design.label), this);
    label->setObjectName(QStringLiteral("lblAddress"));
    label->setGeometry(14, 14, 180, 20);
    edit_ = new QLineEdit(this);
    edit_->setObjectName(QLatin1String(design.editName));
    edit_->setGeometry(14, 38, 180, 26);
    label->setBuddy(edit_);

    persist_ = new QCheckBox(QString::fromLatin1(design.persistCaption), this);
    persist_->setObjectName(QStringLiteral("chkPersist"));
    if (design.persistTip) persist_->setToolTip(QString::fromLatin1(design.persistTip));
    if (design.persistLabel) {
        persist_->setGeometry(14, 76, 70, 22);
        persistLabel_ = new QLabel(QString::fromLatin1(design.persistLabel), this);
        persistLabel_->setObjectName(QStringLiteral("lblPersist"));
        persistLabel_->setGeometry(90, 76, 110, 22);
    } else {
        persist_->setGeometry(14, 76, 180, 22);
    }

    set_ = new QPushButton(QStringLiteral("Set"), this);
    set_->setObjectName(QLatin1String(design.setName));
    set_->setGeometry(224, 36, 90, 28);
    set_->setDefault(true);
    cancel_ = new QPushButton(QStringLiteral("Cancel"), this);
    cancel_->setObjectName(QLatin1String(design.cancelName));
    cancel_->setGeometry(224, 72, 90, 28);

    connect(set_, &QPushButton::clicked, this, &AddressDialog::set_Click);
    connect(cancel_, &QPushButton::clicked, this, &AddressDialog::cancel_Click);
}

QString AddressDialog::run(const QString& current) {
    result_.clear();
    edit_->setText(current);
    edit_->setFocus();
    exec();
    return result_;
}

void AddressDialog::set_Click() {
    if (!confirmSet()) return;
    const QString text = edit_->text();
    if (!settings::validAddress(text, kind_)) {
        platform::ui::msgBox(QStringLiteral("*** Bad IP format"),
                             platform::ui::mb::OkOnly | platform::ui::mb::Exclamation, appTitle());
        return;
    }
    result_ = persist_->checkState() != Qt::Unchecked ? QStringLiteral("-p ") + text : text;
    hide();
    done(Accepted);
}

void AddressDialog::cancel_Click() {
    result_.clear();
    hide();
    done(Rejected);
}

}  // namespace vantor
