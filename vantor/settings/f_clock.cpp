#include "vantor/settings/f_clock.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include "platform/ui/dialogs.h"
#include "vantor/common/app_info.h"
#include "vantor/settings/setting_rules.h"

namespace vantor {

FClock::FClock(QWidget* owner) : QDialog(owner) {
    setObjectName(QStringLiteral("FClock"));
    setWindowTitle(QStringLiteral("Adjust time & date"));
    setFixedSize(330, 140);

    lblDate = new QLabel(QStringLiteral("Datee (dd.mm.yyyy)"), this);
    lblDate->setObjectName(QStringLiteral("lblDate"));
    lblDate->setGeometry(14, 14, 180, 20);
    txtDate = new QLineEdit(this);
    txtDate->setObjectName(QStringLiteral("txtDate"));
    txtDate->setGeometry(14, 36, 180, 26);
    lblDate->setBuddy(txtDate);

    lblTime = new QLabel(QStringLiteral("Time (hh:mm:ss)"), this);
    lblTime->setObjectName(QStringLiteral("lblTime"));
    lblTime->setGeometry(14, 72, 180, 20);
    txtTime = new QLineEdit(this);
    txtTime->setObjectName(QStringLiteral("txtTime"));
    txtTime->setGeometry(14, 94, 180, 26);
    lblTime->setBuddy(txtTime);

    cmdSet = new QPushButton(QStringLiteral("Set"), this);
    cmdSet->setObjectName(QStringLiteral("cmdSet"));
    cmdSet->setGeometry(224, 34, 90, 28);
    cmdSet->setDefault(true);
    cmdCancel = new QPushButton(QStringLiteral("Cancel"), this);
    cmdCancel->setObjectName(QStringLiteral("cmdCancel"));
    cmdCancel->setGeometry(224, 70, 90, 28);

    connect(cmdSet, &QPushButton::clicked, this, &FClock::cmdSet_Click);
    connect(cmdCancel, &QPushButton::clicked, this, &FClock::cmdCancel_Click);
}

QString FClock::SetClock(const QString& current) {
    result_.clear();
    const settings::ClockValue value = settings::splitClockValue(current);
    txtDate->setText(value.date);
    txtTime->setText(value.time);
    txtTime->setFocus();
    exec();
    return result_;
}

void FClock::cmdSet_Click() {
    const auto warn = [](const char* text) {
        platform::ui::msgBox(QString::fromLatin1(text),
                             platform::ui::mb::OkOnly | platform::ui::mb::Exclamation, appTitle());
    };
    const auto time = settings::normaliseTime(txtTime->text());
    if (!time) {
        warn("*** Bad time format");
        return;
    }
    txtTime->setText(*time);
    const auto date = settings::normaliseDate(txtDate->text());
    if (!date) {
        warn("*** Bad date format");
        return;
    }
    txtDate->setText(*date);
    result_ = *time + QLatin1Char(' ') + *date;
    hide();
    done(Accepted);
}

void FClock::cmdCancel_Click() {
    result_.clear();
    hide();
    done(Rejected);
}

}  // namespace vantor
