#include "ferrow/app/c_ferrow_app.h"

#include <QFileInfo>
#include <QLabel>

#include "ferrow/app/c_main_frame.h"
#include "ferrow/app/server_registration.h"
#include "ferrow/app/single_instance.h"
#include "ferrow/app/ua_service.h"
#include "ferrow/devlink/device_link.h"
#include "ferrow/model/cdoc.h"
#include "ferrow/model/locks.h"
#include "ferrow/opc/com_server.h"
#include "ferrow/opc/object_count.h"
#include "platform/settings/registry_store.h"
#include "platform/ui/dialogs.h"

namespace ferrow {

namespace mb = platform::ui::mb;

CFerrowApp::CFerrowApp(QStringList arguments, ComServerHooks hooks, QString modulePath)
    : m_arguments(std::move(arguments)), m_hooks(std::move(hooks)), m_modulePath(std::move(modulePath)) {}

CFerrowApp::~CFerrowApp() { ExitInstance(); }

bool CFerrowApp::InitInstance() {
    // Both locks exist before any thread could want them.
    documentLock();
    valueLock();

    // Registration comes before the single-instance check: an installer's -RegServer or -UnregServer
    // shows no box and ends, also while the user has Ferrow open.
    if (const RegistrationRequest request = registrationRequest(m_arguments);
        request != RegistrationRequest::None)
        return HandleRegistration(request);

    m_instance = std::make_unique<SingleInstance>();
    if (!m_instance->claim()) {
        platform::ui::msgBox(QStringLiteral("The first Instance of Ferrow Server is running !"),
                             mb::OkOnly | mb::Exclamation, QStringLiteral("WARNING"));
        m_instance->activateFirst();
        m_instance.reset();
        return false;
    }

    m_ftStartTime = platform::com::currentFileTime();
    opc::SetServerStartTime(m_ftStartTime);
    // The UA options go first, so that their values are not taken for the file to open.
    UaOptions uaOptions = UaOptions::stored();
    uaOptions.takeFromArguments(m_arguments);
    m_cmdInfo = parseShellCommand(m_arguments);
    m_recentFiles.ReadList();
    if (!ProcessShellCommand()) return false;
    StartUaEndpoint(std::move(uaOptions));

    m_comThread = std::make_unique<ComServerThread>(m_hooks);
    m_comThread->Start();

    if (m_cmdInfo.startedByCom())
        m_pMainWnd->showMinimized();
    else
        m_pMainWnd->show();
    return true;
}

bool CFerrowApp::HandleRegistration(RegistrationRequest request) {
    platform::RegistryStore store;
    const bool done = request == RegistrationRequest::Register ? RegisterServer(m_modulePath, store)
                                                               : UnregisterServer(m_modulePath, store);
    // Silent either way; only the exit code tells.
    m_bRegistrationFailed = !done;
    m_instance.reset();
    return false;
}

bool CFerrowApp::ProcessShellCommand() {
    m_pDocument = std::make_unique<CDoc>(MakeLinkedDevice);
    // UA clients' watches hold tags just as DA items do: the configuration is not replaced under them.
    m_pDocument->SetClientsConnected(
        [this] { return objectCount.load() != 0 || (m_uaService && m_uaService->holdsTags()); });
    m_pMainWnd = std::make_unique<CMainFrame>(
        *m_pDocument, m_recentFiles, [this] { StopComThread(); }, m_cmdInfo.showSplash());
    QObject::connect(m_instance.get(), &SingleInstance::activationRequested, m_pMainWnd.get(),
                     &CMainFrame::BringToFront);
    QString file = m_cmdInfo.fileName;
    if (file.isEmpty()) {
        const QString recent = RecentFileList::storedFirstFile();
        if (!recent.isEmpty() && QFileInfo::exists(recent)) file = recent;
    }
    if (file.isEmpty()) return m_pMainWnd->OnNewDocument();
    // A file that cannot be read is reported and leaves an empty configuration; Ferrow starts anyway.
    m_pMainWnd->OpenDocumentFile(file);
    return true;
}

void CFerrowApp::StartUaEndpoint(UaOptions options) {
    m_uaService = std::make_unique<UaService>(*m_pDocument, std::move(options));
    // A port already taken is told once; Ferrow serves DA all the same.
    const QString problem = m_uaService->start();
    if (!problem.isEmpty() && m_pMainWnd->m_wndMessagePane) m_pMainWnd->m_wndMessagePane->setText(problem);
}

void CFerrowApp::StopComThread() {
    if (m_comThread && !m_comThread->Stop()) m_comThreadLeftRunning = true;
}

int CFerrowApp::ExitInstance(int runResult) {
    m_recentFiles.WriteList();
    StopComThread();
    m_comThread.reset();
    // The endpoint and its watches end while the document they serve is still there.
    m_uaService.reset();
    // The views go before the document they show.
    m_pMainWnd.reset();
    // A server thread still under way (a client's call that does not return) may reach the devices'
    // tags: the document is left to the end of the process rather than deleted under it.
    if (m_comThreadLeftRunning)
        static_cast<void>(m_pDocument.release());
    else
        m_pDocument.reset();
    m_instance.reset();
    return m_bRegistrationFailed ? 1 : runResult;
}

}  // namespace ferrow
