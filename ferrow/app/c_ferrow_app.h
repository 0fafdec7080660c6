#pragma once

#include <QString>
#include <QStringList>
#include <memory>

#include "ferrow/app/com_server_thread.h"
#include "ferrow/app/command_line.h"
#include "ferrow/app/recent_file_list.h"
#include "ferrow/app/ua_options.h"
#include "platform/com/filetime.h"

namespace ferrow {

class CDoc;
class CMainFrame;
class SingleInstance;
class UaService;

// The application: start-up (single instance, registration switches, the document, the main frame, the
// COM server thread, the OPC UA endpoint) and the end. Owns the document, the frame, the COM server thread
// and the endpoint. Runs on the
// user-interface thread.
class CFerrowApp {
  public:
    // `arguments` without the program's name; `modulePath` is the executable's absolute path, which the
    // registration writes.
    CFerrowApp(QStringList arguments, ComServerHooks hooks, QString modulePath);
    ~CFerrowApp();
    CFerrowApp(const CFerrowApp&) = delete;
    CFerrowApp& operator=(const CFerrowApp&) = delete;

    // False: the program ends now (a registration run, a second instance).
    bool InitInstance();
    // Saves the recent files, stops the COM server thread, closes the window and the document. Returns
    // the process's exit code: 1 after a failed registration, otherwise `runResult`.
    int ExitInstance(int runResult = 0);
    void StopComThread();

    CMainFrame* mainFrame() const { return m_pMainWnd.get(); }
    CDoc* document() const { return m_pDocument.get(); }
    const ShellCommand& shellCommand() const { return m_cmdInfo; }
    platform::com::FILETIME serverStartTime() const { return m_ftStartTime; }
    bool comThreadRunning() const { return m_comThread && m_comThread->IsRunning(); }
    // The OPC UA endpoint; null before the start and after the end.
    UaService* uaService() const { return m_uaService.get(); }

  private:
    bool HandleRegistration(RegistrationRequest request);
    bool ProcessShellCommand();
    void StartUaEndpoint(UaOptions options);

    QStringList m_arguments;
    ComServerHooks m_hooks;
    QString m_modulePath;
    ShellCommand m_cmdInfo;
    platform::com::FILETIME m_ftStartTime;
    RecentFileList m_recentFiles;
    std::unique_ptr<SingleInstance> m_instance;
    std::unique_ptr<CDoc> m_pDocument;
    std::unique_ptr<CMainFrame> m_pMainWnd;
    std::unique_ptr<ComServerThread> m_comThread;
    std::unique_ptr<UaService> m_uaService;
    bool m_bRegistrationFailed = false;
    // The COM server thread did not end within its limit: it may still use the document's devices.
    bool m_comThreadLeftRunning = false;
};

}  // namespace ferrow
