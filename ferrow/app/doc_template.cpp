#include "ferrow/app/doc_template.h"

namespace ferrow {

namespace {
QString part(int index) { return DocTemplate::typeText().section(QLatin1Char('\n'), index, index); }
}  // namespace

const QString& DocTemplate::typeText() {
    static const QString text = QStringLiteral(
        "Morvane Ferrow Server\n\nTag Configuration\nTag Configuration Files "
        "(*.tdb)\n.tdb\nFerrow.Document\nFerrow Document");
    return text;
}

QString DocTemplate::windowTitle() { return part(0); }
QString DocTemplate::filterName() { return part(3); }
QString DocTemplate::extension() { return part(4); }

QString DocTemplate::fileFilter() {
    return filterName() + QLatin1Char('|') + QLatin1Char('*') + extension() +
           QStringLiteral("|All Files (*.*)|*.*");
}

QString ferrowAppTitle() { return QStringLiteral("Ferrow Explorer"); }

}  // namespace ferrow
