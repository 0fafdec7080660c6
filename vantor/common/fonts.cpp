#include "vantor/common/fonts.h"

#include <QFontDatabase>

namespace vantor {

QString fontFamilyFor(const QString& designFamily) {
    if (QFontDatabase::hasFamily(designFamily)) return designFamily;
    static const struct {
        const char* design;
        const char* substitute;
    } kSubstitutes[] = {
        {"Arial", "Liberation Sans"},
        {"Courier New", "Liberation Mono"},
        {"Garamond", "EB Garamond"},
    };
    for (const auto& s : kSubstitutes)
        if (designFamily.compare(QLatin1String(s.design), Qt::CaseInsensitive) == 0)
            return QString::fromLatin1(s.substitute);
    return designFamily;
}

QFont designFont(const QString& designFamily, qreal pointSize, bool bold) {
    QFont font(fontFamilyFor(designFamily));
    font.setPointSizeF(pointSize);
    font.setBold(bold);
    if (designFamily.contains(QLatin1String("Courier"), Qt::CaseInsensitive))
        font.setStyleHint(QFont::TypeWriter);
    return font;
}

}  // namespace vantor
