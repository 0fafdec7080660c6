#pragma once

#include <QProcess>
#include <QString>

namespace testsupport {

// A message bus of the test's own (dbus-daemon), optionally with a folder of activation files.
class PrivateBus {
  public:
    // userDirs: as writeConfig.
    explicit PrivateBus(const QString& serviceDir = {}, bool userDirs = false);
    ~PrivateBus();
    PrivateBus(const PrivateBus&) = delete;
    PrivateBus& operator=(const PrivateBus&) = delete;

    bool started() const { return !address_.isEmpty(); }
    const QString& address() const { return address_; }
    // The bus configuration file (for dbus-run-session --config-file).
    const QString& configFile() const { return configFile_; }

    // userDirs: also the folders an ordinary session bus reads, among them $XDG_DATA_HOME/dbus-1/services.
    static QString writeConfig(const QString& serviceDir, bool userDirs = false);

  private:
    QProcess daemon_;
    QString address_;
    QString configFile_;
};

}  // namespace testsupport
