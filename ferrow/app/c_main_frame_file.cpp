// The main frame's part of the document handling: New, Open, Save, Save As, the recent files, the caption.
#include <QAction>
#include <QDir>
#include <QFileInfo>
#include <QMenu>

#include "ferrow/app/c_main_frame.h"
#include "ferrow/app/doc_template.h"
#include "ferrow/app/recent_file_list.h"
#include "ferrow/app/views/device_commands.h"
#include "ferrow/devlink/monitor.h"
#include "ferrow/model/cdoc.h"
#include "platform/ui/dialogs.h"

namespace ferrow {

namespace {
namespace mb = platform::ui::mb;

std::string localPath(const QString& path) { return QFile::encodeName(path).toStdString(); }

// The document reports why an operation failed; the window tells the user. True when it was done.
bool shown(const DocResult& result) {
    if (!result)
        platform::ui::msgBox(QString::fromStdString(result.text),
                             result.warning ? mb::Exclamation : mb::OkOnly);
    return static_cast<bool>(result);
}
}  // namespace

void CMainFrame::SetPathName(const QString& path) {
    if (path.isEmpty()) {
        m_strPathName.clear();
        m_strTitle = DocTemplate::untitled();
    } else {
        m_strPathName = QFileInfo(path).absoluteFilePath();
        m_strTitle = QFileInfo(path).fileName();
        m_recent.Add(m_strPathName);
    }
    UpdateFrameTitle();
}

bool CMainFrame::OnNewDocument() {
    // Monitoring ends before the devices it watches go; a refused New leaves it running.
    if (!m_doc.ClientsConnected()) StopMonitor(m_doc);
    if (!shown(m_doc.OnNewDocument())) return false;
    SetPathName({});
    return true;
}

bool CMainFrame::OpenDocumentFile(const QString& path) {
    const QString absolute = QFileInfo(path).absoluteFilePath();
    // With OPC clients connected the document refuses and stays as it is.
    const bool refused = m_doc.ClientsConnected();
    if (!refused) StopMonitor(m_doc);
    if (!shown(m_doc.OnOpenDocument(localPath(absolute)))) {
        if (refused) return false;
        // The document reported why and stands empty now.
        SetPathName({});
        m_recent.Remove(absolute);
        return false;
    }
    SetPathName(absolute);
    return true;
}

void CMainFrame::OnFileNew() {
    if (!m_pCommands->filesMayChange() || !SaveModified()) return;
    OnNewDocument();
}

void CMainFrame::OnFileOpen() {
    if (!m_pCommands->filesMayChange()) return;
    platform::ui::FileDialogRequest request;
    request.kind = platform::ui::FileDialogRequest::Kind::Open;
    request.title = QStringLiteral("Open");
    request.filter = DocTemplate::fileFilter();
    request.fileMustExist = true;
    const QString path = platform::ui::dialogs().fileDialog(request);
    if (path.isEmpty() || !SaveModified()) return;
    OpenDocumentFile(path);
}

void CMainFrame::OnFileMruFile(int index) {
    if (index < 0 || index >= m_recent.files().size() || !m_pCommands->filesMayChange()) return;
    const QString path = m_recent.files()[index];
    if (!SaveModified()) return;
    OpenDocumentFile(path);
}

bool CMainFrame::DoSave(const QString& path) {
    if (!shown(m_doc.OnSaveDocument(localPath(path)))) return false;
    SetPathName(path);
    return true;
}

bool CMainFrame::OnFileSave() {
    if (m_strPathName.isEmpty()) return OnFileSaveAs();
    return DoSave(m_strPathName);
}

bool CMainFrame::OnFileSaveAs() {
    platform::ui::FileDialogRequest request;
    request.kind = platform::ui::FileDialogRequest::Kind::Save;
    request.title = QStringLiteral("Save As");
    request.filter = DocTemplate::fileFilter();
    request.fileName = m_strPathName.isEmpty() ? m_strTitle + DocTemplate::extension() : m_strPathName;
    request.overwritePrompt = true;
    QString path = platform::ui::dialogs().fileDialog(request);
    if (path.isEmpty()) return false;
    if (QFileInfo(path).suffix().isEmpty()) path += DocTemplate::extension();
    return DoSave(path);
}

bool CMainFrame::SaveModified() {
    if (!m_doc.IsModified()) return true;
    const QString name = m_strPathName.isEmpty() ? m_strTitle : m_strPathName;
    switch (platform::ui::msgBox(QStringLiteral("Save changes to %1?").arg(name),
                                 mb::YesNoCancel | mb::Question)) {
        case mb::Yes:
            return OnFileSave();
        case mb::No:
            return true;
        default:
            return false;
    }
}

void CMainFrame::FillRecentFiles() {
    mnuFile->clear();
    mnuFile->addAction(actFileNew);
    mnuFile->addAction(actFileOpen);
    mnuFile->addAction(actFileSave);
    mnuFile->addAction(actFileSaveAs);
    mnuFile->addSeparator();
    const QStringList& files = m_recent.files();
    if (files.isEmpty()) {
        QAction* none = mnuFile->addAction(QStringLiteral("Recent File"));
        none->setEnabled(false);
    }
    for (int i = 0; i < files.size(); ++i) {
        QAction* recent =
            mnuFile->addAction(QStringLiteral("&%1 %2").arg(i + 1).arg(QDir::toNativeSeparators(files[i])));
        recent->setObjectName(QStringLiteral("ID_FILE_MRU_FILE%1").arg(i + 1));
        recent->setProperty("recentIndex", i);
        recent->setStatusTip(QStringLiteral("Open this configuration"));
        recent->setEnabled(actFileOpen->isEnabled());
        connect(recent, &QAction::triggered, this, [this, i] { OnFileMruFile(i); });
    }
    mnuFile->addSeparator();
    mnuFile->addAction(actAppExit);
}

}  // namespace ferrow
