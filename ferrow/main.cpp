// Ferrow: the OPC Data Access and OPC UA server for the devices' datapoints, with its configuration
// window.
#include <QApplication>
#include <cstdio>

#include "ferrow/app/c_ferrow_app.h"
#include "ferrow/app/c_main_frame.h"
#include "ferrow/app/demo_monitor.h"
#include "ferrow/app/doc_template.h"
#include "ferrow/app/opc_binding.h"
#include "ferrow/app/ua_admin_commands.h"
#include "ferrow/app/ua_options.h"
#include "platform/process/allocator_arenas.h"
#include "platform/ui/demo_screenshot.h"

int main(int argc, char** argv) {
    platform::process::limitAllocatorArenas();
    QStringList arguments;
    for (int i = 1; i < argc; ++i) arguments << QString::fromLocal8Bit(argv[i]);
    if (ferrow::helpRequested(arguments)) {
        std::fputs(ferrow::ferrowUsage().toLocal8Bit().constData(), stdout);
        return 0;
    }
    if (const auto exitCode = ferrow::runUaAdminCommand(arguments)) return *exitCode;
    QApplication app(argc, argv);
    QApplication::setApplicationName(ferrow::ferrowAppTitle());
    ferrow::CFerrowApp ferrowApp(QApplication::arguments().mid(1), ferrow::opcServerHooks(),
                                 QApplication::applicationFilePath());
    int result = 0;
    if (ferrowApp.InitInstance()) {
        ferrow::monitorForDemoIfAsked(*ferrowApp.mainFrame());
        // Long enough for the device to connect, its tags to load and a few values to arrive.
        platform::ui::screenshotAndQuitIfAsked(ferrowApp.mainFrame(), "ferrow", 4000);
        result = QApplication::exec();
    }
    return ferrowApp.ExitInstance(result);
}
