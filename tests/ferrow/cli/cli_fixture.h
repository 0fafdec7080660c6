#pragma once

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <QJsonDocument>
#include <memory>
#include <mutex>
#include <sstream>
#include <streambuf>
#include <string>
#include <vector>

#include "devsim/datapoint_service.h"
#include "ferrow/cli/run.h"
#include "ferrow/cli/stop_signal.h"
#include "ferrow/model/device.h"
#include "tests/ferrow/devlink/linked_device.h"
#include "tests/ferrow/opc/opc_client.h"
#include "tests/support/device_fixture.h"

namespace clitest {

using namespace platform::com;
using namespace ferrow::opc;

// An output stream another thread may read while a command writes to it (watch runs on its own thread
// in these tests).
class SharedStream : public std::ostream {
  public:
    SharedStream() : std::ostream(&buffer_) {}
    std::string text() const { return buffer_.text(); }

  private:
    class Buffer : public std::streambuf {
      public:
        std::string text() const {
            std::lock_guard lock(lock_);
            return text_;
        }

      protected:
        int_type overflow(int_type c) override {
            if (c == traits_type::eof()) return traits_type::not_eof(c);
            std::lock_guard lock(lock_);
            text_ += traits_type::to_char_type(c);
            return c;
        }
        std::streamsize xsputn(const char* s, std::streamsize n) override {
            std::lock_guard lock(lock_);
            text_.append(s, static_cast<std::size_t>(n));
            return n;
        }

      private:
        mutable std::mutex lock_;
        std::string text_;
    };
    Buffer buffer_;
};

// What one run of the program printed and returned.
struct Outcome {
    int status = -1;
    std::string out;
    std::string err;
};

inline std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> out;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) out.push_back(line);
    return out;
}

// JSON as a script would read it; fails the test when the text is not one JSON document.
inline QJsonDocument parseJson(const std::string& text) {
    QJsonParseError error{};
    QJsonDocument document = QJsonDocument::fromJson(QByteArray::fromStdString(text), &error);
    EXPECT_EQ(error.error, QJsonParseError::NoError) << error.errorString().toStdString() << " in " << text;
    return document;
}

// Ferrow's OPC server in this process, with a configuration of one simulated device "Dev" (its demo
// datapoints, loaded over the device link) and an unconnected device "Aux" with one tag. The program's
// commands run against it as they would from another process: each run creates its own server object.
class CliTest : public opctest::OpcClientTest {
  protected:
    void SetUp() override {
        OpcClientTest::SetUp();
        sim = testsupport::startDevice();
        ASSERT_TRUE(sim);
        dev = doc.AddDevice([&](ferrow::ODevice& d) {
            d.m_strName = "Dev";
            ferrowtest::pointAt(d, sim->options().address);
            return true;
        });
        ASSERT_TRUE(dev);
        ASSERT_TRUE(ferrowtest::eventually([&] { return dev->IsConnected(); }));
        ASSERT_EQ(ferrow::LinkOf(*dev).LoadTags(), 11);
        aux = addDevice("Aux");
        addTag(aux, "Flow", VT_R4, false);
    }

    // A group's last reference may be its update thread's, in a pass: the group may end just after the
    // command that removed it returned.
    void TearDown() override {
        ferrowtest::eventually([] { return ferrow::objectCount.load() == 0; });
        OpcClientTest::TearDown();
    }

    Outcome run(std::vector<std::string> args) {
        std::ostringstream out, err;
        Outcome outcome;
        outcome.status = ferrow::cli::run(args, connector(), out, err, stop);
        outcome.out = out.str();
        outcome.err = err.str();
        return outcome;
    }
    static ferrow::cli::ServerConnector connector() {
        return [](IOPCServer** server) {
            return CoCreateInstance(CLSID_FerrowServer, nullptr, CLSCTX_LOCAL_SERVER, IID_IOPCServer,
                                    reinterpret_cast<void**>(server));
        };
    }

    // The device's own value of a datapoint, as hex of its bytes.
    QByteArray deviceValue(const char* name) {
        QByteArray hex;
        sim->run([&] { hex = sim->datapoints().table().find(name)->hexValue(); });
        return hex;
    }
    void setDeviceValue(const char* name, const char* hex) {
        sim->run([&] { sim->datapoints().setValue(name, hex); });
    }

    std::unique_ptr<devsim::SimulatedDevice> sim;
    ferrow::ODevice* dev = nullptr;
    ferrow::ODevice* aux = nullptr;
    ferrow::cli::StopSignal stop;
};

}  // namespace clitest
