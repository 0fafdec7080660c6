// frmMain: the menu items and the button that open the device file windows.
#include <QAction>

#include "vantor/files/f_download.h"
#include "vantor/files/f_upload.h"
#include "vantor/files/fce_browse.h"
#include "vantor/files/file_windows.h"
#include "vantor/shell/frm_main.h"

namespace vantor {

void frmMain::mnuDir_Click() {
    // A plain look at the device; the item stays off while the browser is open.
    mnuDir->setEnabled(false);
    files::FileWindows::of(*this, this).browser().ShowOpen();
    mnuDir->setEnabled(true);
}

void frmMain::mnuUpload_Click() { files::FileWindows::of(*this, this).upload().Start(); }

void frmMain::mnuDownload_Click() { files::FileWindows::of(*this, this).download().Start(); }

void frmMain::cmdUpload_Click() { mnuUpload_Click(); }

void frmMain::endFileWindows(bool destroy) {
    files::FileWindows* windows = files::FileWindows::find(this);
    if (!windows) return;
    windows->endCopies();
    if (destroy) delete windows;
}

}  // namespace vantor
