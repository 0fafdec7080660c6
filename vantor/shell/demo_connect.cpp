#include "vantor/shell/demo_connect.h"

#include <QApplication>
#include <QKeyEvent>
#include <QLineEdit>
#include <QListWidget>

#include "platform/net/tcp_client.h"
#include "vantor/shell/frm_main.h"

namespace vantor {

void connectForDemoIfAsked(frmMain& window) {
    const QString host = qEnvironmentVariable("QUILLON_DEMO_CONNECT");
    if (host.isEmpty()) return;
    QList<QListWidgetItem*> found = window.lbIPs->findItems(host, Qt::MatchExactly | Qt::MatchCaseSensitive);
    if (found.isEmpty()) window.lbIPs->addItem(host);  // shown, not saved
    found = window.lbIPs->findItems(host, Qt::MatchExactly | Qt::MatchCaseSensitive);
    window.lbIPs->setCurrentItem(found.first());
    QObject::connect(
        &window.sckShell(), &platform::net::TcpClient::connected, &window,
        [&window] {
            window.tbCmd->setText(QStringLiteral("help"));
            QKeyEvent press(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier);
            QKeyEvent release(QEvent::KeyRelease, Qt::Key_Return, Qt::NoModifier);
            QApplication::sendEvent(window.tbCmd, &press);
            QApplication::sendEvent(window.tbCmd, &release);
        },
        Qt::SingleShotConnection);
    window.lbIPs_DblClick();
}

}  // namespace vantor
