// merrow: a viewer for a device's debug messages.
#include <QApplication>
#include <QComboBox>
#include <QTimer>

#include "merrow/frm_main.h"
#include "platform/ui/demo_screenshot.h"

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QLatin1String(merrow::frmMain::kAppTitle));
    merrow::frmMain window;
    window.show();
    const QString demoHost = qEnvironmentVariable("QUILLON_DEMO_CONNECT");
    if (!demoHost.isEmpty()) {
        QTimer::singleShot(0, &window, [&window, demoHost] {
            window.cbIPs->setEditText(demoHost);
            window.cbConnect_Click();
        });
    }
    platform::ui::screenshotAndQuitIfAsked(&window, "merrow");
    return app.exec();
}
