#pragma once

// What the UA fuzz targets share: the in-memory data source they serve and the sink that records what
// the endpoint sends on a connection.
#include <cstdint>
#include <string>

#include "ferrow/ua/memory_data_source.h"
#include "ferrow/ua/tcp_connection.h"

namespace ferrow::ua::fuzz {

struct RecordingSink : ConnectionSink {
    std::string sent;
    bool closed = false;
    std::size_t bytesAfterClose = 0;
    void send(std::string bytes) override {
        if (closed) bytesAfterClose += bytes.size();
        sent += bytes;
    }
    void closeConnection() override { closed = true; }
};

// A device with a folder and three tags, made once per process.
inline MemoryDataSource& fuzzDataSource() {
    static MemoryDataSource* source = [] {
        auto* s = new MemoryDataSource;
        FolderInfo line{
            "Line", "Device1.Line", {}, {TagInfo{"Speed", "Device1.Line.Speed", TagType::Float, true}}};
        s->setDevices({FolderInfo{"Device1",
                                  "Device1",
                                  {line},
                                  {TagInfo{"Counter", "Device1.Counter", TagType::Int32, false},
                                   TagInfo{"Setpoint", "Device1.Setpoint", TagType::Double, true}}}});
        s->setSample("Device1.Counter", TagSample{std::int32_t{41}, 0xC0, DateTime{1}});
        return s;
    }();
    return *source;
}

}  // namespace ferrow::ua::fuzz
