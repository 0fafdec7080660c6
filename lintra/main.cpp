// lintra: a query client for a device's SQL server.
#include <QApplication>
#include <QComboBox>
#include <QListWidget>
#include <QTimer>

#include "lintra/frm_main.h"
#include "platform/ui/demo_screenshot.h"
#include "platform/ui/time_scale.h"
#include "platform/ui/wait.h"

namespace {
// The demo's live state: connected, schema listed, the first table selected and queried.
void demoConnect(lintra::frmMain& window, const QString& host) {
    window.cbIPs->setEditText(host);
    window.cbConnect_Click();
    const bool schemaDone = platform::ui::waitUntil([&] { return window.connState() == 2 && !window.busy(); },
                                                    platform::scaled(std::chrono::seconds(5)));
    if (!schemaDone || window.tables().Count() == 0) return;
    window.lbDBs->setCurrentRow(0);
    window.lbDBs_Click(0);
    window.lbDBs_DblClick(0);
}
}  // namespace

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QLatin1String(lintra::frmMain::kAppTitle));
    lintra::frmMain window;
    window.show();
    const QString demoHost = qEnvironmentVariable("QUILLON_DEMO_CONNECT");
    if (!demoHost.isEmpty())
        QTimer::singleShot(0, &window, [&window, demoHost] { demoConnect(window, demoHost); });
    platform::ui::screenshotAndQuitIfAsked(&window, "lintra");
    return app.exec();
}
