#pragma once

#include <QString>
#include <QStringList>
#include <optional>

namespace iplist {

// qnIPs.txt: the device addresses the engineer keeps, one per line, 8-bit text, every line ended by CR LF.
inline constexpr const char* kFileName = "qnIPs.txt";

// The list file in the program's folder.
QString defaultPath();

// The file's lines, taken unchanged (not trimmed). A line ends at CR LF, LF or CR. With
// `stopAtEmptyLine` reading ends at the first empty line. Nothing when the file is missing or unreadable.
std::optional<QStringList> readLines(const QString& path, bool stopAtEmptyLine);

// Replaces the file with `lines`, each ended by CR LF, in one step; the old file stays intact on failure.
bool writeLines(const QString& path, const QStringList& lines, QString* error = nullptr);

}  // namespace iplist
