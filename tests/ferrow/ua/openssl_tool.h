#pragma once

#include <QStringList>
#include <string>
#include <string_view>

#include "ferrow/ua/openssl_handles.h"

namespace ferrow::ua::test {

// Runs the openssl command line tool with `input` on stdin and returns its stdout; fails the calling
// test (empty result) when it does not finish within 30 s or exits non-zero. The tests compare the
// project's crypto against this independent route.
std::string runOpenssl(const QStringList& arguments, std::string_view input = {});

std::string toHex(std::string_view bytes);
// Parses "7A:BC:..." or "7abc..." into bytes.
std::string fromHex(std::string_view hex);

// A fresh RSA key and self-signed certificate made by `openssl req` in a temporary folder.
struct TestIdentity {
    std::string certificateDer;
    EvpPkeyPtr privateKey;
};
TestIdentity makeTestIdentity(int keyBits = 2048);

}  // namespace ferrow::ua::test
