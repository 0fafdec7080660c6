// The device-settings dialogs, reached through the main window's Tools menu.
#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>
#include <functional>
#include <memory>

#include "tests/support/device_fixture.h"
#include "tests/support/scripted_peer.h"
#include "tests/support/test_environment.h"
#include "tests/vantor/shell/main_window_fixture.h"
#include "vantor/settings/f_clock.h"
#include "vantor/settings/f_gateway_addr.h"
#include "vantor/settings/f_ip_addr.h"
#include "vantor/settings/f_subnet.h"

using namespace vantortest;
using namespace vantor;

namespace {
class SettingsDialogs : public MainWindowTest {
  protected:
    void connectToPeer() {
        address = testsupport::uniqueLoopbackAddress();
        peer = std::make_unique<testsupport::ScriptedPeer>(address, 4212);
        writeIpList(address.toLatin1() + "\r\n");
        open();
        doubleClick(0);
        ASSERT_TRUE(waitForStatus("Connected to " + address));
        ASSERT_TRUE(peer->waitForConnections(1));
    }

    // The peer answers `reply` once `command` has arrived (the window waits for it in its own loop).
    void answer(const QByteArray& command, const QByteArray& reply) {
        every([this, command, reply] {
            if (!peer->received().contains(command)) return false;
            peer->send(reply);
            return true;
        });
    }

    // Runs `step` on the dialog of type D once it is shown modally; steps run in the order given.
    template <typename D>
    void whenShown(std::function<void(D&)> step) {
        steps.push_back([step]() {
            auto* dialog = qobject_cast<D*>(QApplication::activeModalWidget());
            if (!dialog || !dialog->isVisible()) return false;
            step(*dialog);
            return true;
        });
        if (steps.size() == 1) every([this] { return runSteps(); });
    }

    void every(std::function<bool()> poll) {
        auto* timer = new QTimer(window.get());
        QObject::connect(timer, &QTimer::timeout, [timer, poll] {
            if (poll()) timer->deleteLater();
        });
        timer->start(10);
    }

    bool runSteps() {
        if (steps.empty()) return true;
        // A message box is answered by the script inside the step's click, so steps never nest.
        if (steps.front()()) steps.erase(steps.begin());
        return steps.empty();
    }

    QString address;
    std::unique_ptr<testsupport::ScriptedPeer> peer;
    std::vector<std::function<bool()>> steps;
};
}  // namespace

TEST_F(SettingsDialogs, ClockReplyIsSplitAndTheSetCommandRewritesTimeAndDate) {
    connectToPeer();
    answer("clock get\r\n", QByteArray("05.03.2004 09:05:03\r\n\0", 22));
    QString shownDate, shownTime;
    whenShown<FClock>([&](FClock& d) {
        shownDate = d.txtDate->text();
        shownTime = d.txtTime->text();
        d.cmdSet->click();
    });
    window->mnuClock->trigger();
    EXPECT_EQ(shownDate, "05.03.2004");
    EXPECT_EQ(shownTime, "09:05:03");
    // The set command leaves as soon as Set is clicked: look at the wire once both lines are there.
    EXPECT_TRUE(peer->waitForReceived("clock get\r\nclock set 9:5:3 5.3.2004\r\n"));
    EXPECT_EQ(peer->received(), "clock get\r\nclock set 9:5:3 5.3.2004\r\n");
    // The reply also went the normal way: shown and logged.
    EXPECT_EQ(window->consoleText(), "05.03.2004 09:05:03\r\n");
    EXPECT_TRUE(dialogs.boxes().empty());
}

TEST_F(SettingsDialogs, BadTimeOrDateKeepsTheClockDialogOpenAndCancelSendsNothing) {
    connectToPeer();
    answer("clock get\r\n", QByteArray("05.03.2004 9:5:3\r\n\0", 19));
    bool stillOpen = false;
    QString timeAfter;
    whenShown<FClock>([&](FClock& d) {
        d.txtTime->setText("25:00:00");
        d.cmdSet->click();
        d.txtTime->setText(" 09:05:03 ");
        d.txtDate->setText("5.3.2004");
        d.cmdSet->click();
        stillOpen = d.isVisible();
        timeAfter = d.txtTime->text();
        d.cmdCancel->click();
    });
    window->mnuClock->trigger();
    EXPECT_EQ(dialogs.boxTexts(), (QStringList{"*** Bad time format", "*** Bad date format"}));
    EXPECT_EQ(dialogs.boxes()[0].style, platform::ui::mb::OkOnly | platform::ui::mb::Exclamation);
    EXPECT_TRUE(stillOpen);
    EXPECT_EQ(timeAfter, "9:5:3");
    peer->send(QByteArray("ping\r\n\0", 7));
    ASSERT_TRUE(waitUntil([&] { return window->consoleText().endsWith("ping\r\n"); }));
    EXPECT_EQ(peer->received(), "clock get\r\n");
}

TEST_F(SettingsDialogs, AClockReplyWithoutBlankGoesToTheDateBox) {
    connectToPeer();
    answer("clock get\r\n", QByteArray("garbled\r\n\0", 10));
    QString shownDate = "unset", shownTime = "unset";
    whenShown<FClock>([&](FClock& d) {
        shownDate = d.txtDate->text();
        shownTime = d.txtTime->text();
        d.cmdCancel->click();
    });
    window->mnuClock->trigger();
    EXPECT_EQ(shownDate, "garbled");
    EXPECT_EQ(shownTime, "");
}

TEST_F(SettingsDialogs, PersistentIpAddressReachesTheSimulatedDevice) {
    auto device = testsupport::startDevice();
    ASSERT_TRUE(device);
    writeIpList(device->options().address.toLatin1() + "\r\n");
    open();
    doubleClick(0);
    ASSERT_TRUE(waitForStatus("Connected to " + device->options().address));
    QString shown;
    whenShown<FIPAddr>([&](FIPAddr& d) {
        shown = d.txtIP->text();
        d.txtIP->setText("10.0.0.7");
        d.chkPersist->setChecked(true);
        d.cmdSet->click();
    });
    window->mnuIPAddr->trigger();
    EXPECT_EQ(shown, device->options().address);
    EXPECT_TRUE(waitUntil([&] { return device->log().contains("< ip set -p 10.0.0.7"); }));
    EXPECT_TRUE(waitUntil([&] {
        return window->consoleText().contains("success: IP address set to 10.0.0.7 (kept in flash)");
    }));
}

TEST_F(SettingsDialogs, GatewayAsksFirstAndNoKeepsTheDialogOpen) {
    connectToPeer();
    answer("Gateway get\r\n", QByteArray("10.0.0.254\r\n\0", 13));
    bool openAfterNo = false, openAfterBad = false;
    whenShown<FGatewayAddr>([&](FGatewayAddr& d) {
        dialogs.answerNext(platform::ui::mb::No);
        d.cmdSet->click();
        openAfterNo = d.isVisible();
        d.txtGateway->setText("192.168.1.255");
        dialogs.answerNext(platform::ui::mb::Yes);
        d.cmdSet->click();
        openAfterBad = d.isVisible();
        d.txtGateway->setText("10.0.0.1");
        dialogs.answerNext(platform::ui::mb::Yes);
        d.cmdSet->click();
    });
    window->mnuGateway->trigger();
    const QString warning = "Attention: Be sure that you will save the correct Gateway Address!!!";
    EXPECT_EQ(dialogs.boxTexts(), (QStringList{warning, warning, "*** Bad IP format", warning}));
    EXPECT_EQ(dialogs.boxes()[0].style & platform::ui::mb::ButtonMask, platform::ui::mb::YesNo);
    EXPECT_TRUE(openAfterNo);
    EXPECT_TRUE(openAfterBad);
    EXPECT_TRUE(peer->waitForReceived("Gateway get\r\nGateway set 10.0.0.1\r\n"));
}

TEST_F(SettingsDialogs, SubnetTakesZeroPartsAndCancelSendsNothing) {
    connectToPeer();
    answer("Subnet get\r\n", QByteArray("255.255.255.0\r\n\0", 16));
    whenShown<FSubnet>([&](FSubnet& d) {
        EXPECT_EQ(d.chkPersist->text(), "Check1");
        EXPECT_EQ(d.lblPersist->text(), "set persistent");
        d.txtSubnet->setText("0.1.2.3");
        d.CmdSet->click();
    });
    window->mnuSubnet->trigger();
    EXPECT_TRUE(peer->waitForReceived("Subnet get\r\nSubnet set 0.1.2.3\r\n"));

    peer->clearReceived();
    answer("ip get\r\n", QByteArray("10.0.0.5\r\n\0", 11));
    whenShown<FIPAddr>([&](FIPAddr& d) {
        d.txtIP->setText("0.1.2.3");  // not an IP address
        d.cmdSet->click();
        d.cmdCancel->click();
    });
    window->mnuIPAddr->trigger();
    EXPECT_EQ(dialogs.boxTexts(), QStringList{"*** Bad IP format"});
    peer->send(QByteArray("ping\r\n\0", 7));
    ASSERT_TRUE(waitUntil([&] { return window->consoleText().endsWith("ping\r\n"); }));
    EXPECT_EQ(peer->received(), "ip get\r\n");
}

TEST_F(SettingsDialogs, AReplySplitOverChunksIsReadWhole) {
    connectToPeer();
    answer("ip get\r\n", "10.0.");
    answer("ip get\r\n", QByteArray("0.5\r\n\0", 6));
    QString shown;
    whenShown<FIPAddr>([&](FIPAddr& d) {
        shown = d.txtIP->text();
        d.cmdCancel->click();
    });
    window->mnuIPAddr->trigger();
    EXPECT_EQ(shown, "10.0.0.5");
}

TEST_F(SettingsDialogs, AnAnswerLongerThanAnyLineEndsTheExchangeAtOnce) {
    connectToPeer();
    answer("ip get\r\n", QByteArray(5000, 'x'));
    bool shown = false;
    whenShown<FIPAddr>([&](FIPAddr& d) {
        shown = true;
        d.cmdCancel->click();
    });
    window->mnuIPAddr->trigger();
    EXPECT_FALSE(shown);
    EXPECT_EQ(
        dialogs.boxTexts(),
        QStringList{"The device's answer to \"ip get\" is not a line of text.\r\nNothing was changed."});
}

TEST_F(SettingsDialogs, ASilentOrClosingDeviceEndsTheWaitWithAMessage) {
    connectToPeer();
    window->mnuIPAddr->trigger();  // nobody answers: 10 s, scaled
    EXPECT_EQ(dialogs.boxTexts(),
              QStringList{"The device did not answer \"ip get\" within 10 seconds.\r\nNothing was changed."});
    EXPECT_TRUE(peer->waitForReceived("ip get\r\n"));
    EXPECT_EQ(peer->received(), "ip get\r\n");

    dialogs.clear();
    every([this] {
        if (!peer->received().contains("Subnet get\r\n")) return false;
        peer->close();
        return true;
    });
    window->mnuSubnet->trigger();
    EXPECT_EQ(dialogs.boxTexts(),
              QStringList{"The connection was closed before the device answered \"Subnet get\".\r\n"
                          "Nothing was changed."});
    EXPECT_EQ(window->statusText(), "Connection was closed");
}
