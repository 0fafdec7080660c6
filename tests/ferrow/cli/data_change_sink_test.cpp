#include "ferrow/cli/data_change_sink.h"

#include <gtest/gtest.h>
#include <poll.h>

#include "platform/com/com_ptr.h"

namespace {

using namespace platform::com;
using namespace ferrow::cli;
using ferrow::opc::OPCHANDLE;

// One OnDataChange call's arrays, built item by item.
struct Report {
    std::vector<OPCHANDLE> handles;
    std::vector<VARIANT> values;
    std::vector<WORD> qualities;
    std::vector<FILETIME> times;
    std::vector<HRESULT> errors;

    Report& add(OPCHANDLE handle, VARTYPE vt, double number, WORD quality, HRESULT error = S_OK) {
        VARIANT v;
        VariantInit(&v);
        v.vt = vt;
        if (vt == VT_R8) v.dblVal = number;
        handles.push_back(handle);
        values.push_back(v);
        qualities.push_back(quality);
        times.push_back(FILETIME::fromTicks(handles.size()));
        errors.push_back(error);
        return *this;
    }
    HRESULT sendTo(DataChangeSink& sink) {
        return sink.OnDataChange(0, 1, S_OK, S_OK, static_cast<DWORD>(handles.size()), handles.data(),
                                 values.data(), qualities.data(), times.data(), errors.data());
    }
};

bool readable(int fd) {
    pollfd wait{fd, POLLIN, 0};
    return poll(&wait, 1, 0) == 1;
}

ComPtr<DataChangeSink> sinkFor(std::vector<std::string> ids, std::size_t maxQueued = 100) {
    return ComPtr<DataChangeSink>(new DataChangeSink(std::move(ids), maxQueued));
}

TEST(CliDataChangeSink, EveryReportIsQueuedInOrderAsTheServerSentIt) {
    auto sink = sinkFor({"Dev.A", "Dev.B"});
    std::uint64_t dropped = 0;
    // A bad report without a value is what the server said, first or not.
    ASSERT_EQ(Report().add(1, VT_EMPTY, 0, 0x00).add(2, VT_EMPTY, 0, 0x18).sendTo(*sink.get()), S_OK);
    ASSERT_EQ(Report().add(1, VT_R8, 2.5, 0xC0).sendTo(*sink.get()), S_OK);
    const auto changes = sink->take(&dropped);
    ASSERT_EQ(changes.size(), 3u);
    EXPECT_EQ(changes[0].itemId, "Dev.A");
    EXPECT_EQ(changes[0].quality, 0x00);
    EXPECT_EQ(changes[1].itemId, "Dev.B");
    EXPECT_EQ(changes[1].quality, 0x18);
    EXPECT_EQ(changes[2].itemId, "Dev.A");
    EXPECT_EQ(changes[2].value.dblVal, 2.5);
    EXPECT_EQ(dropped, 0u);
}

TEST(CliDataChangeSink, ForeignHandlesAreIgnoredAndTheQueueIsBounded) {
    auto sink = sinkFor({"Dev.A", "Dev.B"}, 3);
    Report report;
    report.add(0, VT_R8, 1, 0xC0).add(3, VT_R8, 1, 0xC0);  // not handles this watch gave out
    for (int i = 0; i < 5; ++i) report.add(static_cast<OPCHANDLE>(1 + i % 2), VT_R8, i, 0xC0);
    ASSERT_EQ(report.sendTo(*sink.get()), S_OK);
    std::uint64_t dropped = 0;
    const auto changes = sink->take(&dropped);
    ASSERT_EQ(changes.size(), 3u);
    EXPECT_EQ(dropped, 2u);
    EXPECT_EQ(changes[0].itemId, "Dev.A");
    EXPECT_EQ(changes[2].value.dblVal, 2.0);
    EXPECT_TRUE(sink->take(&dropped).empty());
    EXPECT_EQ(dropped, 0u);
}

TEST(CliDataChangeSink, ItsPipeWakesThePrinterUntilTheChangesAreTaken) {
    auto sink = sinkFor({"Dev.A"});
    ASSERT_TRUE(sink->valid());
    EXPECT_FALSE(readable(sink->wakeFd()));
    ASSERT_EQ(Report().add(1, VT_R8, 1, 0xC0).sendTo(*sink.get()), S_OK);
    ASSERT_EQ(Report().add(1, VT_R8, 2, 0xC0).sendTo(*sink.get()), S_OK);
    EXPECT_TRUE(readable(sink->wakeFd()));
    std::uint64_t dropped = 0;
    EXPECT_EQ(sink->take(&dropped).size(), 2u);
    EXPECT_FALSE(readable(sink->wakeFd()));
}

TEST(CliDataChangeSink, MissingArraysAreRefusedAndNothingIsQueued) {
    auto sink = sinkFor({"Dev.A"});
    OPCHANDLE handle = 1;
    EXPECT_EQ(sink->OnDataChange(0, 1, S_OK, S_OK, 1, &handle, nullptr, nullptr, nullptr, nullptr),
              E_POINTER);
    EXPECT_EQ(sink->OnDataChange(0, 1, S_OK, S_OK, 0, nullptr, nullptr, nullptr, nullptr, nullptr), S_OK);
    std::uint64_t dropped = 0;
    EXPECT_TRUE(sink->take(&dropped).empty());
    EXPECT_FALSE(readable(sink->wakeFd()));
}

}  // namespace
