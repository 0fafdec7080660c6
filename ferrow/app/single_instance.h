#pragma once

#include <QObject>
#include <QString>
#include <memory>

class QLocalServer;
class QLockFile;

namespace ferrow {

// One Ferrow per user. The first instance holds a lock file and listens on a local socket named after
// its window class, "MyClassName", both in the user's runtime folder; a second instance finds the lock
// taken and knocks on the socket, which makes the first bring its window to the front. A lock left by a
// crashed instance is recognised by its dead process and taken over, and a socket file it left behind is
// replaced. Lives on the start-up (user-interface) thread.
class SingleInstance : public QObject {
    Q_OBJECT
  public:
    explicit SingleInstance(QObject* parent = nullptr);
    ~SingleInstance() override;

    // True when this process is the first instance now (it holds the lock and listens).
    bool claim();
    // Asks the first instance to come to the front; false when it could not be reached in time.
    bool activateFirst();

    // The user's runtime folder for Ferrow ($XDG_RUNTIME_DIR/quillon).
    static QString folder();
    static QString socketPath();

  signals:
    // Another instance knocked.
    void activationRequested();

  private:
    void acceptKnock();

    std::unique_ptr<QLockFile> lock_;
    std::unique_ptr<QLocalServer> server_;
};

}  // namespace ferrow
