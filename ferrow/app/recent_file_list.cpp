#include "ferrow/app/recent_file_list.h"

#include <QFileInfo>

#include "platform/settings/settings_store.h"

namespace ferrow {

namespace {
const QString kSettingsKey = QStringLiteral("Ferrow");
const QString kSection = QStringLiteral("Recent File List");
QString entry(int i) { return QStringLiteral("File%1").arg(i + 1); }
}  // namespace

void RecentFileList::ReadList() {
    files_.clear();
    for (int i = 0; i < kSize; ++i) {
        const QString path = platform::GetSetting(kSettingsKey, kSection, entry(i));
        // A file that is away (its share or disk not there now) keeps its place; opening it reports it
        // and only then drops it.
        if (!path.isEmpty() && !files_.contains(path)) files_ << path;
    }
    read_ = true;
}

void RecentFileList::WriteList() const {
    if (!read_) return;
    for (int i = 0; i < kSize; ++i) {
        if (i < files_.size())
            platform::SaveSetting(kSettingsKey, kSection, entry(i), files_[i]);
        else
            platform::DeleteSetting(kSettingsKey, kSection, entry(i));
    }
}

void RecentFileList::Add(const QString& path) {
    const QString absolute = QFileInfo(path).absoluteFilePath();
    files_.removeAll(absolute);
    files_.prepend(absolute);
    while (files_.size() > kSize) files_.removeLast();
}

void RecentFileList::Remove(const QString& path) { files_.removeAll(QFileInfo(path).absoluteFilePath()); }

QString RecentFileList::storedFirstFile() { return platform::GetSetting(kSettingsKey, kSection, entry(0)); }

}  // namespace ferrow
