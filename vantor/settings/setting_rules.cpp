#include "vantor/settings/setting_rules.h"

#include <QRegularExpression>

namespace vantor::settings {

namespace {
QString trimBlanks(const QString& text) {
    qsizetype begin = 0, end = text.size();
    while (begin < end && text.at(begin) == QLatin1Char(' ')) ++begin;
    while (end > begin && text.at(end - 1) == QLatin1Char(' ')) --end;
    return text.mid(begin, end - begin);
}

// A part of an address as a 16-bit number: plain decimal digits only. Anything looser would let a
// fifth dotted part ("1.2.3.4.5") or a fraction pass as the last part.
std::optional<int> addressPart(const QString& part) {
    if (part.isEmpty() || part.size() > 5) return std::nullopt;
    for (const QChar c : part)
        if (c < QLatin1Char('0') || c > QLatin1Char('9')) return std::nullopt;
    const int value = part.toInt();
    if (value > 32767) return std::nullopt;
    return value;
}
}  // namespace

bool validAddress(const QString& text, AddressKind kind) {
    if (text == QLatin1String("0.0.0.0")) return true;
    const qsizetype d1 = text.indexOf(QLatin1Char('.'));
    if (d1 < 0) return false;
    const qsizetype d2 = text.indexOf(QLatin1Char('.'), d1 + 1);
    if (d2 < 0) return false;
    const qsizetype d3 = text.indexOf(QLatin1Char('.'), d2 + 1);
    if (d3 < 0 || d3 + 1 >= text.size()) return false;
    const QString parts[] = {text.left(d1), text.mid(d1 + 1, d2 - d1 - 1), text.mid(d2 + 1, d3 - d2 - 1),
                             text.mid(d3 + 1)};
    for (int i = 0; i < 4; ++i) {
        const auto value = addressPart(parts[i]);
        const bool middle = i == 1 || i == 2;
        const int low = kind == AddressKind::Mask || middle ? 0 : 1;
        const int high = kind == AddressKind::Mask ? 255 : 254;
        if (!value || *value < low || *value > high) return false;
    }
    return true;
}

std::optional<QString> normaliseTime(const QString& text) {
    static const QRegularExpression form(
        QStringLiteral("^([0-9]{1,2}):([0-9]{1,2})(?::([0-9]{1,2}))?(?:\\s*([AaPp][Mm]))?$"));
    const auto match = form.match(trimBlanks(text));
    if (!match.hasMatch()) return std::nullopt;
    int hour = match.captured(1).toInt();
    const int minute = match.captured(2).toInt();
    const int second = match.captured(3).isEmpty() ? 0 : match.captured(3).toInt();
    const QString half = match.captured(4).toUpper();
    if (!half.isEmpty()) {
        if (hour < 1 || hour > 12) return std::nullopt;
        hour = hour % 12 + (half == QLatin1String("PM") ? 12 : 0);
    }
    if (hour > 23 || minute > 59 || second > 59) return std::nullopt;
    return QStringLiteral("%1:%2:%3").arg(hour).arg(minute).arg(second);
}

std::optional<QString> normaliseDate(const QString& text, const QDate& today) {
    static const QRegularExpression form(QStringLiteral("^([0-9]{2})\\.([0-9]{2})\\.([0-9]{2}|[0-9]{4})?$"));
    const auto match = form.match(trimBlanks(text));
    if (!match.hasMatch()) return std::nullopt;
    const int day = match.captured(1).toInt();
    const int month = match.captured(2).toInt();
    const QString yearText = match.captured(3);
    int year = today.year();
    if (yearText.size() == 2) {
        const int yy = yearText.toInt();
        year = yy < 30 ? 2000 + yy : 1900 + yy;
    } else if (yearText.size() == 4) {
        year = yearText.toInt();
        if (year < 100) return std::nullopt;
    }
    if (!QDate::isValid(year, month, day)) return std::nullopt;
    return QStringLiteral("%1.%2.%3").arg(day).arg(month).arg(year);
}

ClockValue splitClockValue(const QString& value) {
    const qsizetype blank = value.indexOf(QLatin1Char(' '));
    if (blank < 0) return {value, {}};
    return {value.left(blank), value.mid(blank + 1)};
}

}  // namespace vantor::settings
