#include "ferrow/model/tdb_archive.h"

#include <gtest/gtest.h>

using namespace ferrow;

namespace {

std::string bytes(std::initializer_list<int> values) {
    std::string out;
    for (int v : values) out += static_cast<char>(v);
    return out;
}

// One device named Device1 at 192.168.0.10, next device number 2.
const std::string kExample =
    bytes({0xFF, 0xFF, 0x01, 0x00, 0x04, 0x00}) + "CDoc" + bytes({0x02, 0x00}) +
    bytes({0xFF, 0xFF, 0x01, 0x00, 0x09, 0x00}) + "OTagGroup" + bytes({0x05}) + "Group" +
    bytes({0x00, 0x01, 0x00, 0x01, 0x00}) + bytes({0xFF, 0xFF, 0x01, 0x00, 0x07, 0x00}) + "ODevice" +
    bytes({0, 0, 0, 0, 0, 0, 0, 0}) + bytes({0xFF, 0xFF, 0x01, 0x00, 0x0D, 0x00}) + "ODeviceParams" +
    bytes({0x03}) + "192" + bytes({0x03}) + "168" + bytes({0x01}) + "0" + bytes({0x02}) + "10" +
    bytes({0xE8, 0x03, 0, 0, 0, 0}) + bytes({0x02, 0x80}) + bytes({0x07}) + "Device1" +
    bytes({0x00, 0x01, 0x00, 0x00, 0x00});

TdbGroup device(const std::string& name, std::array<std::string, 4> octets) {
    TdbGroup d;
    d.isDevice = true;
    d.name = name;
    d.octets = std::move(octets);
    return d;
}

}  // namespace

TEST(TdbArchive, WritesTheDocumentedExampleByteForByte) {
    TdbDocument doc;
    doc.nextDevice = 2;
    doc.root.groups.push_back(device("Device1", {"192", "168", "0", "10"}));
    EXPECT_EQ(WriteTdb(doc), kExample);
}

TEST(TdbArchive, ReadsTheExampleBack) {
    TdbDocument doc;
    std::string error;
    ASSERT_TRUE(ReadTdb(kExample, &doc, &error)) << error;
    EXPECT_EQ(doc.nextDevice, 2);
    EXPECT_EQ(doc.root.name, "Group");
    ASSERT_EQ(doc.root.groups.size(), 1u);
    const TdbGroup& d = doc.root.groups[0];
    EXPECT_TRUE(d.isDevice);
    EXPECT_EQ(d.name, "Device1");
    EXPECT_EQ(d.octets[0], "192");
    EXPECT_EQ(d.octets[3], "10");
    EXPECT_EQ(d.paramsReserved, 1000u);
    EXPECT_EQ(d.reserved, 1);
}

TEST(TdbArchive, LaterObjectsUseClassReferencesAndRoundTrip) {
    TdbDocument doc;
    doc.nextDevice = 9;
    doc.root.groups.push_back(device("A", {"10", "0", "0", "1"}));
    doc.root.groups.push_back(device("B", {"010", "0", "0", "2"}));
    TdbGroup sub;
    sub.name = "Sub";
    sub.description = std::string(300, 'd');  // the 0xFF + WORD length form
    doc.root.groups[1].groups.push_back(sub);
    doc.root.groups[1].simulate = 1;
    doc.root.groups[1].paramsWord = 7;
    const std::string file = WriteTdb(doc);
    // Second device: class reference to ODevice (index 3), then to ODeviceParams (index 5).
    EXPECT_NE(file.find(bytes({0x03, 0x80, 0, 0, 0, 0})), std::string::npos);
    EXPECT_NE(file.find(bytes({0x05, 0x80, 0x03}) + "010"), std::string::npos);

    TdbDocument back;
    std::string error;
    ASSERT_TRUE(ReadTdb(file, &back, &error)) << error;
    EXPECT_EQ(WriteTdb(back), file);
    EXPECT_EQ(back.root.groups[1].octets[0], "010");
    EXPECT_EQ(back.root.groups[1].groups[0].description.size(), 300u);
}

TEST(TdbArchive, EmptyFileIsAnEmptyConfiguration) {
    TdbDocument doc;
    doc.nextDevice = 5;
    ASSERT_TRUE(ReadTdb("", &doc, nullptr));
    EXPECT_EQ(doc.nextDevice, 1);
    EXPECT_TRUE(doc.root.groups.empty());
}

TEST(TdbArchive, ReadsWideTextAndNullElements) {
    // Root name as UTF-16 "Gr\u00fc\u20ac": 0xFF, 0xFFFE, length 4, then the characters.
    std::string file = bytes({0xFF, 0xFF, 0x01, 0x00, 0x04, 0x00}) + "CDoc" + bytes({0x03, 0x00}) +
                       bytes({0xFF, 0xFF, 0x02, 0x00, 0x09, 0x00}) + "OTagGroup" +
                       bytes({0xFF, 0xFE, 0xFF, 0x04, 'G', 0, 'r', 0, 0xFC, 0, 0xAC, 0x20}) +
                       bytes({0x00, 0x01, 0x00, 0x01, 0x00, 0x00, 0x00});
    TdbDocument doc;
    std::string error;
    ASSERT_TRUE(ReadTdb(file, &doc, &error)) << error;
    EXPECT_EQ(doc.root.name, "Gr\xFC?");
    EXPECT_TRUE(doc.root.groups.empty());  // the null element holds nothing
    EXPECT_EQ(doc.nextDevice, 3);
}

TEST(TdbArchive, EveryTruncationIsRefused) {
    for (std::size_t size = 1; size < kExample.size(); ++size) {
        TdbDocument doc;
        std::string error;
        EXPECT_FALSE(ReadTdb(kExample.substr(0, size), &doc, &error)) << size;
        EXPECT_FALSE(error.empty());
        EXPECT_TRUE(doc.root.groups.empty());
    }
}

TEST(TdbArchive, HostileFilesAreRefused) {
    const std::string head = bytes({0xFF, 0xFF, 0x01, 0x00, 0x04, 0x00}) + "CDoc" + bytes({0x02, 0x00}) +
                             bytes({0xFF, 0xFF, 0x01, 0x00, 0x09, 0x00}) + "OTagGroup";
    struct Case {
        const char* what;
        std::string file;
    } cases[] = {
        {"a 4 GB name", head + bytes({0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x7F})},
        {"a 4 G element count", head + bytes({0, 0, 1, 0, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF})},
        {"an unexpected class", head + bytes({0, 0, 1, 0, 1, 0, 0xFF, 0xFF, 1, 0, 4, 0}) + "CDoc"},
        {"a reference to an earlier object", head + bytes({0, 0, 1, 0, 1, 0, 0x01, 0x00})},
        {"a reference to an unknown class", head + bytes({0, 0, 1, 0, 1, 0, 0x09, 0x80})},
        {"a wrong first class", bytes({0xFF, 0xFF, 0x01, 0x00, 0x04, 0x00}) + "COpc"},
        {"a big class tag with no class", head + bytes({0, 0, 1, 0, 1, 0, 0xFF, 0x7F, 0x40, 0, 0, 0x80})},
    };
    for (const auto& c : cases) {
        TdbDocument doc;
        std::string error;
        EXPECT_FALSE(ReadTdb(c.file, &doc, &error)) << c.what;
        EXPECT_FALSE(error.empty()) << c.what;
    }
}

TEST(TdbArchive, NestingAndDeviceCountAreBounded) {
    TdbDocument deep;
    deep.root.groups.push_back(device("D", {"1", "2", "3", "4"}));
    TdbGroup* g = &deep.root.groups.back();
    for (int i = 1; i <= kMaxTdbDepth; ++i) {
        g->groups.emplace_back();
        g = &g->groups.back();
    }
    TdbDocument doc;
    std::string error;
    EXPECT_FALSE(ReadTdb(WriteTdb(deep), &doc, &error));
    EXPECT_NE(error.find("nested"), std::string::npos);

    TdbDocument many;
    for (int i = 0; i <= kMaxTdbDevices; ++i) many.root.groups.push_back(device("D", {"1", "2", "3", "4"}));
    EXPECT_FALSE(ReadTdb(WriteTdb(many), &doc, &error));
    many.root.groups.pop_back();
    EXPECT_TRUE(ReadTdb(WriteTdb(many), &doc, &error)) << error;
}

// Ferrow writes devices at the root and plain groups inside devices only; the document relies on it.
TEST(TdbArchive, GroupsAtTheRootAndDevicesInsideDevicesAreRefused) {
    TdbDocument groupAtRoot;
    groupAtRoot.root.groups.emplace_back();
    groupAtRoot.root.groups.back().name = "Plain";
    TdbDocument deviceInDevice;
    deviceInDevice.root.groups.push_back(device("Outer", {"1", "2", "3", "4"}));
    deviceInDevice.root.groups.back().groups.push_back(device("Inner", {"1", "2", "3", "5"}));
    TdbDocument groupInDevice;
    groupInDevice.root.groups.push_back(device("Outer", {"1", "2", "3", "4"}));
    groupInDevice.root.groups.back().groups.emplace_back();

    TdbDocument doc;
    std::string error;
    EXPECT_FALSE(ReadTdb(WriteTdb(groupAtRoot), &doc, &error));
    EXPECT_NE(error.find("a group where a device belongs"), std::string::npos) << error;
    EXPECT_FALSE(ReadTdb(WriteTdb(deviceInDevice), &doc, &error));
    EXPECT_NE(error.find("a device inside a device"), std::string::npos) << error;
    EXPECT_TRUE(ReadTdb(WriteTdb(groupInDevice), &doc, &error)) << error;
}
