#pragma once

// Figures every comparison benchmark prints beside its rates: processor time, the machine's load, and
// the median of several rounds with their range.

#include <sys/resource.h>

#include <QByteArray>
#include <QFile>
#include <QList>
#include <QtGlobal>
#include <algorithm>
#include <string>
#include <vector>

namespace benchfigures {

// Processor time (user and system) in nanoseconds of RUSAGE_THREAD or RUSAGE_SELF.
inline qint64 cpuNs(int who) {
    rusage usage{};
    getrusage(who, &usage);
    return (usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1000000000LL +
           (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) * 1000LL;
}

// The 1, 5 and 15 minute load averages, as the system prints them.
inline std::string loadAverage() {
    QFile f(QStringLiteral("/proc/loadavg"));
    if (!f.open(QIODevice::ReadOnly)) return "?";
    const QList<QByteArray> parts = f.readAll().split(' ');
    return parts.size() >= 3 ? (parts[0] + " " + parts[1] + " " + parts[2]).toStdString() : "?";
}

struct Spread {
    double median, low, high;
};

// Median, lowest and highest of a non-empty series.
inline Spread spread(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    const size_t n = v.size();
    const double median = n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
    return {median, v.front(), v.back()};
}

}  // namespace benchfigures
