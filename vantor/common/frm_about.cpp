#include "vantor/common/frm_about.h"

#include <QFileInfo>
#include <QLabel>
#include <QProcess>
#include <QPushButton>

#include "platform/settings/registry_store.h"
#include "platform/ui/dialogs.h"
#include "vantor/common/app_info.h"
#include "vantor/common/fonts.h"
#include "vantor/common/logo.h"
#include "vantor/common/registry_value.h"

namespace vantor {

namespace {
QLabel* label(QWidget* parent, const char* name, const QString& text, const QRect& geometry) {
    auto* l = new QLabel(text, parent);
    l->setObjectName(QLatin1String(name));
    l->setGeometry(geometry);
    return l;
}
}  // namespace

frmAbout::frmAbout(QWidget* owner) : QDialog(owner) {
    setObjectName(QStringLiteral("frmAbout"));
    setWindowTitle(QStringLiteral("About ") + appTitle());
    setFixedSize(420, 250);

    Picture1 = label(this, "Picture1", {}, QRect(16, 16, 72, 72));
    Picture1->setPixmap(makerLogo(72));
    Picture1->setAccessibleName(QStringLiteral("Maker's logo"));

    lblTitle = label(this, "lblTitle", appTitle(), QRect(104, 14, 300, 30));
    lblTitle->setFont(designFont(QStringLiteral("Arial"), 15, true));
    const AppVersion v = appVersion();
    lblVersion = label(this, "lblVersion",
                       QStringLiteral("Version %1.%2.%3").arg(v.major).arg(v.minor).arg(v.revision),
                       QRect(104, 46, 300, 20));
    Label1 = label(this, "Label1", QStringLiteral("Quillon 2000"), QRect(104, 68, 300, 20));
    Label1->setFont(designFont(QStringLiteral("Arial"), 10, true));

    Label3 = label(this, "Label3", QStringLiteral("Morvane GmbH"), QRect(16, 104, 300, 30));
    Label3->setFont(designFont(QStringLiteral("Garamond"), 16, true));
    Label2 = label(this, "Label2", QStringLiteral("Industriestrasse 12, 70565 Stuttgart, Germany"),
                   QRect(16, 136, 390, 18));
    Label4 =
        label(this, "Label4", QStringLiteral("Support: +49 711 555 0100  \u00b7  support@morvane.example"),
              QRect(16, 156, 390, 18));

    auto* rule = new QFrame(this);
    rule->setFrameShape(QFrame::HLine);
    rule->setFrameShadow(QFrame::Sunken);
    rule->setGeometry(16, 184, 388, 4);

    cmdOK = new QPushButton(QStringLiteral("OK"), this);
    cmdOK->setObjectName(QStringLiteral("cmdOK"));
    cmdOK->setGeometry(296, 198, 108, 28);
    cmdOK->setDefault(true);
    cmdSysInfo = new QPushButton(QStringLiteral("&System Info..."), this);
    cmdSysInfo->setObjectName(QStringLiteral("cmdSysInfo"));
    cmdSysInfo->setGeometry(176, 198, 108, 28);

    connect(cmdOK, &QPushButton::clicked, this, &frmAbout::cmdOK_Click);
    connect(cmdSysInfo, &QPushButton::clicked, this, &frmAbout::cmdSysInfo_Click);
}

void frmAbout::cmdOK_Click() { accept(); }

void frmAbout::cmdSysInfo_Click() { StartSysInfo(); }

void frmAbout::StartSysInfo() {
    using Root = platform::RegistryStore::Root;
    const platform::RegistryStore registry;
    QString program;
    QString location;
    if (GetKeyValue(registry, Root::LocalMachine, QLatin1String(kSysInfoKey), QLatin1String(kSysInfoValue),
                    program)) {
        // found: start it below
    } else if (GetKeyValue(registry, Root::LocalMachine, QLatin1String(kSysInfoLocationKey),
                           QLatin1String(kSysInfoLocationValue), location) &&
               QFileInfo::exists(location + QLatin1Char('/') + QLatin1String(kSysInfoProgram))) {
        program = location + QLatin1Char('/') + QLatin1String(kSysInfoProgram);
    }
    if (!program.isEmpty() && QProcess::startDetached(program, {})) return;
    platform::ui::msgBox(QStringLiteral("System Information Is Unavailable At This Time"),
                         platform::ui::mb::OkOnly, appTitle());
}

}  // namespace vantor
