// Vantor: the PC side shell for the devices.
#include <QApplication>
#include <QTimer>

#include "platform/net/tcp_client.h"
#include "platform/ui/demo_screenshot.h"
#include "vantor/common/app_info.h"
#include "vantor/shell/demo_connect.h"
#include "vantor/shell/frm_main.h"

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(vantor::appTitle());
    vantor::frmMain mainWindow;
    mainWindow.show();
    vantor::connectForDemoIfAsked(mainWindow);
    platform::ui::screenshotAndQuitIfAsked(&mainWindow, "vantor");
    return QApplication::exec();
}
