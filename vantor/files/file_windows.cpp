#include "vantor/files/file_windows.h"

#include <QWidget>

#include "vantor/files/f_download.h"
#include "vantor/files/f_upload.h"
#include "vantor/files/fce_browse.h"

namespace vantor::files {

namespace {
const char* const kName = "vantorFileWindows";
}

FileWindows& FileWindows::of(ShellHost& host, QWidget* mainWindow) {
    if (FileWindows* existing = find(mainWindow)) return *existing;
    return *new FileWindows(host, mainWindow);
}

FileWindows* FileWindows::find(QWidget* mainWindow) {
    return mainWindow->findChild<FileWindows*>(QLatin1String(kName), Qt::FindDirectChildrenOnly);
}

void FileWindows::endCopies() {
    if (upload_) upload_->reject();
    if (download_) download_->reject();
}

FileWindows::FileWindows(ShellHost& host, QWidget* mainWindow)
    : QObject(mainWindow), host_(host), mainWindow_(mainWindow) {
    setObjectName(QLatin1String(kName));
}

FileWindows::~FileWindows() = default;

FCEBrowse& FileWindows::browser() {
    if (!browser_) browser_ = std::make_unique<FCEBrowse>(host_, mainWindow_);
    return *browser_;
}

FUpload& FileWindows::upload() {
    if (!upload_) upload_ = std::make_unique<FUpload>(host_, browser(), mainWindow_);
    return *upload_;
}

FDownload& FileWindows::download() {
    if (!download_) download_ = std::make_unique<FDownload>(host_, browser(), mainWindow_);
    return *download_;
}

}  // namespace vantor::files
