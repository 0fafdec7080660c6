#pragma once

#include <QString>
#include <deque>
#include <functional>
#include <vector>

#include "platform/ui/dialogs.h"

namespace platform::ui {

// Test double for Dialogs: records every box and dialog and answers from a script. An unscripted
// message box answers with its first button (OK or Yes); an unscripted file dialog is cancelled.
// Installs itself for its lifetime.
class ScriptedDialogs : public Dialogs {
  public:
    struct FileAnswer {
        QString path;  // empty: Cancel
    };

    ScriptedDialogs();
    ~ScriptedDialogs() override;
    ScriptedDialogs(const ScriptedDialogs&) = delete;
    ScriptedDialogs& operator=(const ScriptedDialogs&) = delete;

    void answerNext(int answer) { boxAnswers_.push_back(answer); }
    void answerNextFile(const QString& path) { fileAnswers_.push_back({path}); }
    void cancelNextFile() { fileAnswers_.push_back({}); }
    // Called while the box is "open", before it answers (for checks of the window's state at that time).
    void onBox(std::function<void(const MessageBoxRequest&)> hook) { hook_ = std::move(hook); }

    const std::vector<MessageBoxRequest>& boxes() const { return boxes_; }
    const std::vector<FileDialogRequest>& fileDialogs() const { return fileRequests_; }
    QStringList boxTexts() const;
    void clear();

    int messageBox(const MessageBoxRequest& request) override;
    QString fileDialog(const FileDialogRequest& request) override;

  private:
    std::vector<MessageBoxRequest> boxes_;
    std::vector<FileDialogRequest> fileRequests_;
    std::deque<int> boxAnswers_;
    std::deque<FileAnswer> fileAnswers_;
    std::function<void(const MessageBoxRequest&)> hook_;
};

}  // namespace platform::ui
