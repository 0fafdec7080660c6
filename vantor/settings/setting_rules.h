#pragma once

#include <QDate>
#include <QString>
#include <optional>

// The checks and rewrites of the device-settings dialogs. Pure functions.
namespace vantor::settings {

// What an address dialog edits: a host's address (IP, gateway) or a subnet mask.
enum class AddressKind { Host, Mask };

// An address as the dialogs accept it: "0.0.0.0", or four dotted parts (the last one is everything
// after the third dot), each a decimal number: 0 to 255 for a mask; 1 to 254 for a host, where the two
// middle parts may also be 0 (10.0.0.1 is an ordinary address). Taken as typed: no blanks, signs or
// other number forms.
bool validAddress(const QString& text, AddressKind kind);

// A time of day the user typed (blanks around it ignored): "h:m" or "h:m:s", one or two digits each,
// optionally followed by AM or PM. Rewritten as "h:m:s" without leading zeros (9:5:3).
std::optional<QString> normaliseTime(const QString& text);

// A date in one of the forms "dd.mm.yy", "dd.mm.yyyy" or "dd.mm." (blanks around it ignored), day
// before month whatever the user's locale. Two-digit years 00-29 are 2000-2029, 30-99 are 1930-1999;
// no year is `today`'s year. Rewritten as "d.m.yyyy" (5.3.2004).
std::optional<QString> normaliseDate(const QString& text, const QDate& today = QDate::currentDate());

// The clock reply "date time" split at its first blank. Without a blank all of it is the date.
struct ClockValue {
    QString date;
    QString time;
};
ClockValue splitClockValue(const QString& value);

}  // namespace vantor::settings
