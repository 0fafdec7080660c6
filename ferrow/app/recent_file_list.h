#pragma once

#include <QString>
#include <QStringList>

namespace ferrow {

// The most recently used configuration files, newest first, kept in the settings store under the
// settings key "Ferrow", section "Recent File List", entries File1 to File4.
class RecentFileList {
  public:
    static constexpr int kSize = 4;

    // Reads the entries, also those whose file is missing now.
    void ReadList();
    // Writes the entries back (only after ReadList, so a run that never read the list never wipes it).
    void WriteList() const;

    // Puts `path` (made absolute) first; an entry of the same file moves up instead of appearing twice.
    void Add(const QString& path);
    void Remove(const QString& path);
    const QStringList& files() const { return files_; }

    // The stored File1 as it is, whether or not the file still exists.
    static QString storedFirstFile();

  private:
    QStringList files_;
    bool read_ = false;
};

}  // namespace ferrow
