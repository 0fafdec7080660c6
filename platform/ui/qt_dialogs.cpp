#include "platform/ui/qt_dialogs.h"

#include <QApplication>
#include <QFileDialog>
#include <QMessageBox>

namespace platform::ui {

namespace {

struct ButtonSet {
    QList<QPair<QMessageBox::StandardButton, int>> buttons;  // Qt button and the answer it gives
};

ButtonSet buttonsFor(int style) {
    switch (style & mb::ButtonMask) {
        case mb::OkCancel:
            return {{{QMessageBox::Ok, mb::Ok}, {QMessageBox::Cancel, mb::Cancel}}};
        case mb::AbortRetryIgnore:
            return {{{QMessageBox::Abort, mb::Abort},
                     {QMessageBox::Retry, mb::Retry},
                     {QMessageBox::Ignore, mb::Ignore}}};
        case mb::YesNoCancel:
            return {
                {{QMessageBox::Yes, mb::Yes}, {QMessageBox::No, mb::No}, {QMessageBox::Cancel, mb::Cancel}}};
        case mb::YesNo:
            return {{{QMessageBox::Yes, mb::Yes}, {QMessageBox::No, mb::No}}};
        case mb::RetryCancel:
            return {{{QMessageBox::Retry, mb::Retry}, {QMessageBox::Cancel, mb::Cancel}}};
        default:
            return {{{QMessageBox::Ok, mb::Ok}}};
    }
}

QMessageBox::Icon iconFor(int style) {
    switch (style & mb::IconMask) {
        case mb::Critical:
            return QMessageBox::Critical;
        case mb::Question:
            return QMessageBox::Question;
        case mb::Exclamation:
            return QMessageBox::Warning;
        case mb::Information:
            return QMessageBox::Information;
        default:
            return QMessageBox::NoIcon;
    }
}

}  // namespace

QString qtNameFilters(const QString& filter) {
    const QStringList parts = filter.split(QLatin1Char('|'));
    QStringList filters;
    for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
        QString patterns = parts[i + 1];
        patterns.replace(QLatin1Char(';'), QLatin1Char(' '));
        QStringList list = patterns.split(QLatin1Char(' '), Qt::SkipEmptyParts);
        for (QString& p : list)
            if (p == QLatin1String("*.*")) p = QStringLiteral("*");
        QString description = parts[i];
        // The description usually repeats the patterns already; Qt reads the patterns from the parentheses.
        const qsizetype open = description.indexOf(QLatin1Char('('));
        if (open >= 0) description = description.left(open).trimmed();
        filters << QStringLiteral("%1 (%2)").arg(description, list.join(QLatin1Char(' ')));
    }
    return filters.join(QStringLiteral(";;"));
}

int QtDialogs::messageBox(const MessageBoxRequest& request) {
    QMessageBox box(iconFor(request.style), request.title, request.text, QMessageBox::NoButton,
                    QApplication::activeWindow());
    const ButtonSet set = buttonsFor(request.style);
    for (const auto& [button, answer] : set.buttons) box.addButton(button);
    box.setDefaultButton(set.buttons.front().first);
    const auto clicked = static_cast<QMessageBox::StandardButton>(box.exec());
    for (const auto& [button, answer] : set.buttons)
        if (button == clicked) return answer;
    // Closed with Escape or the close box: the last button is the "way out".
    return set.buttons.back().second;
}

QString QtDialogs::fileDialog(const FileDialogRequest& request) {
    QFileDialog dialog(QApplication::activeWindow(), request.title, request.initialFolder,
                       qtNameFilters(request.filter));
    const bool save = request.kind == FileDialogRequest::Kind::Save;
    dialog.setAcceptMode(save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
    dialog.setFileMode(save || !request.fileMustExist ? QFileDialog::AnyFile : QFileDialog::ExistingFile);
    dialog.setOption(QFileDialog::DontConfirmOverwrite, !request.overwritePrompt);
    if (!request.fileName.isEmpty()) dialog.selectFile(request.fileName);
    if (dialog.exec() == QDialog::Accepted && !dialog.selectedFiles().isEmpty())
        return dialog.selectedFiles().constFirst();
    if (request.cancelRaises) throw DialogCancelled();
    return {};
}

}  // namespace platform::ui
