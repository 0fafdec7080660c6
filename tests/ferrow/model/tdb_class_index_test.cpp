// Configurations large enough that the file's index counter passes 0x7FFF, where a class reference
// takes its long form (the WORD 0x7FFF and a DWORD).
#include <gtest/gtest.h>

#include <string>

#include "ferrow/model/tdb_archive.h"

namespace ferrow {
namespace {

// CDoc is index 1, OTagGroup 2, ODevice 3, the device 4, ODeviceParams 5; each group inside the
// device then takes the next index.
constexpr std::uint32_t kFirstGroupIndex = 6;

std::string groupName(int i) {
    std::string name(1, 'G');
    name += std::to_string(i);
    return name;
}

TdbDocument oneDeviceWithGroups(int groups) {
    TdbDocument doc;
    TdbGroup device;
    device.isDevice = true;
    device.name = "Plant";
    device.octets = {"10", "0", "0", "5"};
    for (int i = 0; i < groups; ++i) {
        TdbGroup group;
        group.name = groupName(i);
        device.groups.push_back(group);
    }
    doc.root.groups.push_back(device);
    return doc;
}

// A group element as written: its class record, then name, empty description, reserved 1, no children.
std::string groupElement(const std::string& classRecord, const std::string& name) {
    std::string element = classRecord;
    element.push_back(static_cast<char>(name.size()));
    element.append(name);
    element.append("\0\x01\0\0\0", 5);
    return element;
}

TEST(TdbClassIndex, AConfigurationPastIndex0x7FFFReadsBackTheSame) {
    const TdbDocument doc = oneDeviceWithGroups(0x8000);
    const std::string bytes = WriteTdb(doc);
    TdbDocument read;
    std::string error;
    ASSERT_TRUE(ReadTdb(bytes, &read, &error)) << error;
    ASSERT_EQ(read.root.groups.size(), 1u);
    ASSERT_EQ(read.root.groups[0].groups.size(), 0x8000u);
    EXPECT_EQ(read.root.groups[0].groups.back().name, "G32767");
    EXPECT_EQ(WriteTdb(read), bytes);
    // Every group refers to the class OTagGroup by its own small index, however far the counter went.
    EXPECT_EQ(bytes.substr(bytes.size() - groupElement("xx", "G32767").size(), 2),
              std::string("\x02\x80", 2));
}

TEST(TdbClassIndex, AClassRecordedAtIndex0x7FFFIsFoundAgainByItsLongReference) {
    // Groups up to index 0x7FFE, then a group that records OTagGroup anew (index 0x7FFF, the group
    // itself 0x8000), then one that refers to that record in the long form.
    const int before = static_cast<int>(0x7FFF - kFirstGroupIndex);
    const TdbDocument doc = oneDeviceWithGroups(before + 2);
    std::string bytes = WriteTdb(doc);
    const std::string lastTwo = groupElement(std::string("\x02\x80", 2), groupName(before)) +
                                groupElement(std::string("\x02\x80", 2), groupName(before + 1));
    ASSERT_EQ(bytes.substr(bytes.size() - lastTwo.size()), lastTwo);
    bytes.resize(bytes.size() - lastTwo.size());
    bytes += groupElement(std::string("\xFF\xFF\x01\x00\x09\x00", 6) + "OTagGroup", groupName(before));
    bytes += groupElement(std::string("\xFF\x7F\xFF\x7F\x00\x80", 6), groupName(before + 1));

    TdbDocument read;
    std::string error;
    ASSERT_TRUE(ReadTdb(bytes, &read, &error)) << error;
    ASSERT_EQ(read.root.groups[0].groups.size(), static_cast<std::size_t>(before + 2));
    EXPECT_EQ(read.root.groups[0].groups.back().name, groupName(before + 1));
    EXPECT_EQ(WriteTdb(read), WriteTdb(doc));

    // The long form naming an index where no class was recorded is refused.
    bytes[bytes.size() - groupElement("xxxxxx", groupName(before + 1)).size() + 2] = '\xFE';
    EXPECT_FALSE(ReadTdb(bytes, &read, &error));
}

}  // namespace
}  // namespace ferrow
