#include "tests/vantor/files/test_shell_host.h"

#include <QApplication>
#include <QTimer>
#include <QWidget>

#include "platform/ui/wait.h"

namespace testsupport {

using platform::net::TcpClient;

TestShellHost::TestShellHost() {
    QObject::connect(&shell_, &TcpClient::dataArrival, this, [this] {
        pending_ += shell_.GetData();
        for (qsizetype nul; (nul = pending_.indexOf('\0')) >= 0;) {
            const QByteArray message = pending_.left(nul);
            pending_.remove(0, nul + 1);
            messages.push_back(message);
            route(message);
        }
    });
}

bool TestShellHost::connectTo(const QString& address) {
    shell_.Connect(address, 4212);
    return platform::ui::waitUntil([this] { return shell_.state() == TcpClient::Connected; },
                                   std::chrono::seconds(5));
}

qint32 TestShellHost::Register4Notify(vantor::NotifyClient* client) {
    clients_[++count_] = client;
    return count_;
}

void TestShellHost::UnRegister4Notify(qint32 handle) { clients_.erase(handle); }

void TestShellHost::route(const QByteArray& message) {
    QString msg, data;
    if (message.contains("success")) {
        msg = QStringLiteral("success");
    } else if (message.contains("notify")) {
        msg = QString::fromLatin1(message);
        data = QString::fromLatin1(message.mid(message.indexOf("notify")));
    } else if (message.contains("error")) {
        msg = QStringLiteral("error");
        data = QString::fromLatin1(message);
    } else {
        return;
    }
    const auto clients = clients_;
    for (const auto& [handle, client] : clients) client->Notify(msg, data);
}

bool TestShellHost::waitForMessage(const QByteArray& fragment, int limitMs) {
    return platform::ui::waitUntil(
        [&] {
            for (const QByteArray& m : messages)
                if (m.contains(fragment)) return true;
            return false;
        },
        std::chrono::milliseconds(limitMs));
}

void whenShown(QWidget* dialog, std::function<void()> inside) {
    auto* timer = new QTimer;
    timer->setInterval(5);
    QObject::connect(timer, &QTimer::timeout, [timer, dialog, inside = std::move(inside)] {
        if (!dialog->isVisible() || QApplication::activeModalWidget() != dialog) return;
        timer->stop();
        timer->deleteLater();
        inside();
    });
    timer->start();
}

}  // namespace testsupport
