#include "platform/ui/scripted_dialogs.h"

#include <QStringList>

namespace platform::ui {

ScriptedDialogs::ScriptedDialogs() { setDialogs(this); }

ScriptedDialogs::~ScriptedDialogs() { setDialogs(nullptr); }

QStringList ScriptedDialogs::boxTexts() const {
    QStringList texts;
    for (const auto& box : boxes_) texts << box.text;
    return texts;
}

void ScriptedDialogs::clear() {
    boxes_.clear();
    fileRequests_.clear();
}

int ScriptedDialogs::messageBox(const MessageBoxRequest& request) {
    boxes_.push_back(request);
    if (hook_) hook_(request);
    if (!boxAnswers_.empty()) {
        const int answer = boxAnswers_.front();
        boxAnswers_.pop_front();
        return answer;
    }
    switch (request.style & mb::ButtonMask) {
        case mb::YesNo:
        case mb::YesNoCancel:
            return mb::Yes;
        case mb::AbortRetryIgnore:
            return mb::Abort;
        case mb::RetryCancel:
            return mb::Retry;
        default:
            return mb::Ok;
    }
}

QString ScriptedDialogs::fileDialog(const FileDialogRequest& request) {
    fileRequests_.push_back(request);
    QString path;
    if (!fileAnswers_.empty()) {
        path = fileAnswers_.front().path;
        fileAnswers_.pop_front();
    }
    if (path.isEmpty() && request.cancelRaises) throw DialogCancelled();
    return path;
}

}  // namespace platform::ui
