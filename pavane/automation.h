#pragma once

#include <QDBusConnection>
#include <QDBusContext>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QTimer>
#include <chrono>
#include <functional>
#include <map>
#include <memory>
#include <optional>

#include "pavane/frm_download_ce.h"

namespace pavane {

class AutomationServer;

// Where other programs find Pavane on the session bus.
inline constexpr const char* kServiceName = "org.quillon.Pavane";
inline constexpr const char* kFactoryPath = "/org/quillon/Pavane";
inline constexpr const char* kFactoryInterface = "org.quillon.Pavane";
inline constexpr const char* kDownloadInterface = "org.quillon.Pavane.Download";
inline constexpr const char* kDownloadPathPrefix = "/org/quillon/Pavane/Download/";

// Error names of the automation interface.
inline constexpr const char* kErrorBusy = "org.quillon.Pavane.Error.Busy";
inline constexpr const char* kErrorPathNotFound = "org.quillon.Pavane.Error.PathNotFound";
inline constexpr const char* kErrorAborted = "org.quillon.Pavane.Error.Aborted";
inline constexpr const char* kErrorEnded = "org.quillon.Pavane.Error.Ended";

// The class object: clients create Download objects through it.
class DownloadFactory : public QObject, protected QDBusContext {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.quillon.Pavane")
  public:
    explicit DownloadFactory(AutomationServer& server) : server_(server) {}

  public slots:
    Q_SCRIPTABLE QDBusObjectPath CreateDownload();

  private:
    AutomationServer& server_;
};

// One Download object of a client. SetSource answers later: when the download is complete, or with an
// error when it can't be any more.
class DownloadObject : public QObject, protected QDBusContext {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.quillon.Pavane.Download")
  public:
    DownloadObject(AutomationServer& server, QString path) : server_(server), path_(std::move(path)) {}
    const QString& path() const { return path_; }

  public slots:
    Q_SCRIPTABLE void SetSource(const QString& Ip, const QString& Path);
    // Ends the object; the last one to go takes the window with it.
    Q_SCRIPTABLE void Release();

  private:
    AutomationServer& server_;
    QString path_;
};

// Pavane as an automation component: registers the service and the class object on a bus connection,
// keeps the clients' Download objects, runs SetSource on the one window and answers the pending call.
// The window is made on the first SetSource (a component shows nothing before). Objects live until
// Release or the end of the program, not as long as their creator's connection: a shell script makes
// every call from a new connection. UI thread only.
class AutomationServer : public QObject {
    Q_OBJECT
  public:
    struct Options {
        // Start the download as soon as the window is prepared, instead of waiting for the operator.
        bool pressDownload = false;
    };

    AutomationServer(QDBusConnection connection, Options options);
    ~AutomationServer() override;

    // Registers the class object and the service name. False (with `error`) when the name is taken.
    bool start(QString* error = nullptr);
    frmDownloadCE* window() const { return window_; }
    int objectCount() const { return static_cast<int>(objects_.size()); }

    // A component that nobody has used for this long, with no window shown, ends.
    static constexpr std::chrono::milliseconds kIdleTime{5 * 60 * 1000};

    // Called by the bus objects.
    QString createDownload();
    void setSource(DownloadObject& object, const QDBusMessage& call, const QString& ip, const QString& path);
    void release(const QString& path);

    // Sends the replies still queued; call before the program ends.
    void flush();

  signals:
    // The window was unloaded or the last object released: the component has nothing left to do.
    void finished();

  private:
    struct Pending {
        QDBusMessage call;
        QString objectPath;
    };

    void runSetSource(const QString& ip, const QString& path);
    frmDownloadCE* ensureWindow();
    void onStatusChanged(const QString& text);
    void onAborted(const QString& statusText);
    void onUnloaded();
    void reply(const QDBusMessage& message);
    void failPending(const char* errorName, const QString& text);

    QDBusConnection connection_;
    Options options_;
    std::unique_ptr<DownloadFactory> factory_;
    std::map<QString, std::unique_ptr<DownloadObject>> objects_;
    QTimer idle_;
    QTimer busCheck_;  // a component whose bus has gone has nobody left to serve
    QPointer<frmDownloadCE> window_;
    std::optional<Pending> pending_;
    int nextObject_ = 1;
    bool registered_ = false;
};

}  // namespace pavane
