#pragma once

#include <QString>
#include <string_view>

namespace ferrow::ua {

// The users who may open a session with a user name and password: one line per user in a file of the
// user's own (0600), "name:pbkdf2-sha256:<iterations>:<salt>:<hash>" with salt and hash in Base64. Only
// salted hashes are kept. The file is read on every call and replaced atomically on every change, so the
// command line and a running endpoint can share it. Owns nothing but the path; any thread, one call at a
// time per file.
class UserStore {
  public:
    static constexpr int kIterations = 100000;
    static constexpr std::size_t kMaximumNameLength = 128;
    static constexpr std::size_t kMaximumPasswordLength = 1024;

    explicit UserStore(QString path);
    // $XDG_DATA_HOME/quillon/ferrow/ua-users.
    static QString defaultPath();
    const QString& path() const { return path_; }

    // Why `name` cannot be a user name (empty, too long, ':' or a line break in it), or empty.
    static QString nameProblem(std::string_view name);

    // Adds the user, or gives an existing one the new password. False with `error` for a bad name or
    // password or a file that cannot be written.
    bool add(std::string_view name, std::string_view password, QString* error = nullptr) const;
    // False with `error` when there is no such user or the file cannot be written.
    bool remove(std::string_view name, QString* error = nullptr) const;
    bool contains(std::string_view name) const;
    // Whether `password` is the user's. An unknown user takes as long to refuse as a wrong password, so
    // that the time does not tell which names exist.
    bool verify(std::string_view name, std::string_view password) const;

  private:
    QString path_;
};

}  // namespace ferrow::ua
