#include "devsim/file_commands.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include "devsim/file_data_link.h"
#include "devsim/file_faults.h"
#include "devsim/file_listing.h"
#include "devsim/file_transfers.h"
#include "devsim/shell_service.h"
#include "devsim/simulated_device.h"
#include "platform/ui/time_scale.h"

namespace devsim {

namespace {

using namespace std::chrono_literals;

// How long a command waits for the PC's data connection.
constexpr std::chrono::milliseconds kDataConnectionWait = 10s;
const char* const kServiceName = "fileService";

// Holds the faults; a child of the shell so it lives exactly as long as the device's services.
class FileService : public QObject {
  public:
    explicit FileService(QObject* parent) : QObject(parent) { setObjectName(QLatin1String(kServiceName)); }
    FileFaults faults;
};

struct Resolved {
    QString host;
    QByteArray device;
};

// The device path of a command's argument, and where it lives on the PC; answers "error" when invalid.
std::optional<Resolved> resolve(ShellSession& session, ShellService& shell, const QByteArray& argument,
                                const char* command) {
    if (argument.isEmpty()) {
        session.sendMessage(QByteArray(command) + " error: no path given\r\n");
        return std::nullopt;
    }
    const auto host = shell.device().files().hostPath(QString::fromLatin1(argument));
    if (!host) {
        session.sendMessage(QByteArray(command) + " error: invalid path " + argument + "\r\n");
        return std::nullopt;
    }
    return Resolved{*host, argument};
}

// Claims the data connection of `session`'s command and hands it to `use` as a link with the faults
// applied; reports "error" on the shell when the PC never opens it.
void withDataLink(ShellService& shell, FileService& service, ShellSession& session, const char* command,
                  std::function<void(FileDataLink*, TransferContext)> use) {
    QPointer<ShellSession> requester(&session);
    const std::string name = command;
    shell.claimDataConnection(
        session, platform::scaled(kDataConnectionWait),
        [&shell, &service, requester, name, use = std::move(use)](QTcpSocket* socket) {
            if (!socket) {
                if (requester)
                    requester->sendMessage(QByteArray::fromStdString(name) +
                                           " error: no data connection\r\n");
                return;
            }
            auto* link = new FileDataLink(socket, service.faults, shell.device().log(), name, &service);
            use(link, TransferContext{requester, &shell.device().log(), &service.faults});
        });
}

void installDir(ShellService& shell, FileService& service) {
    shell.addCommand(
        "dir", "dir <folder>      folder listing on a data connection",
        [&shell, &service](ShellSession& session, const QByteArray& args) {
            QByteArray prefix = args.isEmpty() ? QByteArray("\\") : args;
            if (!prefix.endsWith('\\')) prefix += '\\';
            const auto target = resolve(session, shell, prefix, "dir");
            if (!target) return;
            const bool isRoot = QDir(target->host) == QDir(shell.device().files().root());
            withDataLink(
                shell, service, session, "dir",
                [target = *target, isRoot](FileDataLink* link, TransferContext context) {
                    const bool exists = QFileInfo(target.host).isDir();
                    int count = 0;
                    if (exists)
                        link->send(listing::folderRecords(target.host, target.device, isRoot, &count));
                    context.log->append("dir: " + target.device.toStdString() + ", " + std::to_string(count) +
                                        " entries");
                    // Silence means the connection stays open: the PC has to give up by itself.
                    if (!link->silent()) link->close();
                    if (context.shell) {
                        context.shell->sendMessage(exists ? "dir success: " + QByteArray::number(count) +
                                                                " entries in " + target.device + "\r\n"
                                                          : "dir error: folder " + target.device +
                                                                " not found\r\n");
                    }
                });
        });
}

void installFolderAndDelete(ShellService& shell) {
    shell.addCommand("makedir", "makedir <folder>  creates a folder",
                     [&shell](ShellSession& session, const QByteArray& args) {
                         const auto target = resolve(session, shell, args, "makedir");
                         if (!target) return;
                         const bool ok = !QFileInfo::exists(target->host) && QDir().mkdir(target->host);
                         shell.device().log().append("makedir: " + target->device.toStdString() +
                                                     (ok ? " created" : " failed"));
                         session.sendMessage(ok ? "makedir success: " + target->device + "\r\n"
                                                : "makedir error: cannot create " + target->device + "\r\n");
                     });
    shell.addCommand("deldir", "deldir <folder>   deletes an empty folder",
                     [&shell](ShellSession& session, const QByteArray& args) {
                         const auto target = resolve(session, shell, args, "deldir");
                         if (!target) return;
                         const bool isRoot = QDir(target->host) == QDir(shell.device().files().root());
                         const bool ok =
                             !isRoot && QFileInfo(target->host).isDir() && QDir().rmdir(target->host);
                         shell.device().log().append("deldir: " + target->device.toStdString() +
                                                     (ok ? " deleted" : " failed"));
                         session.sendMessage(ok ? "deldir success: " + target->device + "\r\n"
                                                : "deldir error: cannot delete " + target->device +
                                                      " (missing or not empty)\r\n");
                     });
    shell.addCommand("delfile", "delfile <file>    deletes a file",
                     [&shell](ShellSession& session, const QByteArray& args) {
                         const auto target = resolve(session, shell, args, "delfile");
                         if (!target) return;
                         const QFileInfo info(target->host);
                         const bool ok = info.isFile() && QFile::remove(target->host);
                         shell.device().log().append("delfile: " + target->device.toStdString() +
                                                     (ok ? " deleted" : " failed"));
                         session.sendMessage(ok ? "delfile success: " + target->device + "\r\n"
                                                : "delfile error: cannot delete " + target->device + "\r\n");
                     });
}

void installCopy(ShellService& shell, FileService& service) {
    shell.addCommand("copy", "copy [-x ][-a ]<file>  receives a file on a data connection",
                     [&shell, &service](ShellSession& session, const QByteArray& args) {
                         QByteArray rest = args;
                         bool execute = false;
                         bool autoStart = false;
                         for (;;) {
                             if (rest.startsWith("-x "))
                                 execute = true;
                             else if (rest.startsWith("-a "))
                                 autoStart = true;
                             else
                                 break;
                             rest = rest.mid(3).trimmed();
                         }
                         const auto target = resolve(session, shell, rest, "copy");
                         if (!target) return;
                         withDataLink(shell, service, session, "copy",
                                      [target = *target, execute, autoStart, &service](
                                          FileDataLink* link, TransferContext context) {
                                          auto* receiver =
                                              new CopyReceiver(link, target.host, target.device, execute,
                                                               autoStart, context, &service);
                                          receiver->start();
                                      });
                     });
}

void installGetFile(ShellService& shell, FileService& service) {
    shell.addCommand("getfile", "getfile <file>    sends a file on a data connection",
                     [&shell, &service](ShellSession& session, const QByteArray& args) {
                         const auto target = resolve(session, shell, args, "getfile");
                         if (!target) return;
                         withDataLink(
                             shell, service, session, "getfile",
                             [target = *target, &service](FileDataLink* link, TransferContext context) {
                                 auto* sender =
                                     new FileSender(link, target.host, target.device, context, &service);
                                 sender->start();
                             });
                     });
}

}  // namespace

void installFileCommands(ShellService& shell) {
    auto* service = new FileService(&shell);
    installDir(shell, *service);
    installFolderAndDelete(shell);
    installCopy(shell, *service);
    installGetFile(shell, *service);
}

FileFaults& fileFaults(SimulatedDevice& device) {
    FileService* service = nullptr;
    device.run([&] {
        service = static_cast<FileService*>(
            device.shell().findChild<QObject*>(QLatin1String(kServiceName), Qt::FindDirectChildrenOnly));
    });
    Q_ASSERT(service);
    return service->faults;
}

}  // namespace devsim
