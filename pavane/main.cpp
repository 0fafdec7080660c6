// pavane: sends a Windows CE image to a device that waits for one; also an automation component that
// other programs start on the session bus.
#include <QApplication>
#include <QCommandLineParser>
#include <QDBusConnection>
#include <cstdio>

#include "pavane/activation_file.h"
#include "pavane/automation.h"
#include "pavane/frm_download_ce.h"
#include "platform/ui/demo_screenshot.h"
#include "platform/ui/dialogs.h"

namespace {

// For rigs without an operator (and the tests): every box is printed and answered with its first
// button, file dialogs are cancelled.
class UnattendedDialogs : public platform::ui::Dialogs {
  public:
    int messageBox(const platform::ui::MessageBoxRequest& request) override {
        std::fprintf(stdout, "pavane box: %s: %s\n", qPrintable(request.title), qPrintable(request.text));
        std::fflush(stdout);
        switch (request.style & platform::ui::mb::ButtonMask) {
            case platform::ui::mb::YesNo:
            case platform::ui::mb::YesNoCancel:
                return platform::ui::mb::Yes;
            case platform::ui::mb::AbortRetryIgnore:
                return platform::ui::mb::Abort;
            case platform::ui::mb::RetryCancel:
                return platform::ui::mb::Retry;
            default:
                return platform::ui::mb::Ok;
        }
    }
    QString fileDialog(const platform::ui::FileDialogRequest&) override { return {}; }
};

}  // namespace

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QString::fromLatin1(pavane::kAppTitle));

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Download a Windows CE image to a Quillon 2000 device"));
    parser.addHelpOption();
    const QCommandLineOption componentOption(QStringLiteral("component"),
                                             QStringLiteral("Run as the session bus's Download component."));
    const QCommandLineOption registerOption(
        QStringLiteral("register"), QStringLiteral("Let the session bus start this program as a component."));
    const QCommandLineOption unregisterOption(
        QStringLiteral("unregister"), QStringLiteral("Remove the registration made with --register."));
    parser.addOptions({componentOption, registerOption, unregisterOption});
    parser.process(app);

    if (parser.isSet(registerOption) || parser.isSet(unregisterOption)) {
        QString error;
        const bool ok = parser.isSet(registerOption)
                            ? pavane::registerComponent(QApplication::applicationFilePath(), &error)
                            : pavane::unregisterComponent(&error);
        std::fprintf(ok ? stdout : stderr, "%s %s\n", ok ? "pavane:" : "pavane: failed:",
                     qPrintable(ok ? pavane::userActivationFilePath() : error));
        return ok ? 0 : 1;
    }

    // Silently: a start that cannot register (a read-only home, say) still does its work.
    pavane::refreshRegistration(QApplication::applicationFilePath());

    const bool unattended = qEnvironmentVariableIsSet("PAVANE_UNATTENDED");
    UnattendedDialogs unattendedDialogs;
    if (unattended) platform::ui::setDialogs(&unattendedDialogs);

    if (parser.isSet(componentOption)) {
        // A component shows nothing until a client calls, and ends when the clients are done with it.
        QApplication::setQuitOnLastWindowClosed(false);
        pavane::AutomationServer server(QDBusConnection::sessionBus(), {unattended});
        QString error;
        if (!server.start(&error)) {
            std::fprintf(stderr, "pavane: %s\n", qPrintable(error));
            return 1;
        }
        QObject::connect(&server, &pavane::AutomationServer::finished, &app, [&server] {
            server.flush();
            QApplication::quit();
        });
        const int result = QApplication::exec();
        platform::ui::setDialogs(nullptr);
        return result;
    }

    pavane::frmDownloadCE window;
    QObject::connect(&window, &pavane::frmDownloadCE::unloaded, &app, &QApplication::quit);
    window.show();
    platform::ui::screenshotAndQuitIfAsked(&window, "pavane");
    const int result = QApplication::exec();
    platform::ui::setDialogs(nullptr);
    return result;
}
