#pragma once

#include <QString>

// The baseline: the image protocol in its barest form, blocking POSIX calls, one datagram in flight.
// Sends `path` to `device`:4242 from `local`:4242; true when every packet was acknowledged.
bool sendStopAndWait(const QString& path, const QString& device, const QString& local);
