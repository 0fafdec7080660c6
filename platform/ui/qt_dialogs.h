#pragma once

#include "platform/ui/dialogs.h"

namespace platform::ui {

// Message boxes and file dialogs shown with QMessageBox and QFileDialog, parented to the active window.
class QtDialogs : public Dialogs {
  public:
    int messageBox(const MessageBoxRequest& request) override;
    QString fileDialog(const FileDialogRequest& request) override;
};

// "Text (*.txt)|*.txt|All (*.*)|*.*" -> "Text (*.txt);;All (*)". A DOS "*.*" means every file.
QString qtNameFilters(const QString& filter);

}  // namespace platform::ui
