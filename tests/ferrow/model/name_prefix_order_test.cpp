// Names where one begins another: the shorter sorts first, in every order of arrival, and each is found
// again by its own name rather than by the one it begins.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "ferrow/model/device.h"
#include "ferrow/model/name_order.h"
#include "ferrow/model/tag.h"

namespace ferrow {
namespace {

std::vector<std::string> tagNames(const ODevice& device) {
    std::vector<std::string> names;
    for (const auto& tag : device.m_tags) names.push_back(tag->m_strName);
    return names;
}

std::unique_ptr<OTag> tagNamed(const std::string& name) {
    auto tag = std::make_unique<OqnTag>();
    tag->m_strName = name;
    return tag;
}

TEST(NamePrefixOrder, TheNameThatBeginsAnotherComesFirst) {
    EXPECT_LT(compareNoCase("Level", "Level2"), 0);
    EXPECT_GT(compareNoCase("Level2", "Level"), 0);
    EXPECT_LT(compareNoCase("Tank", "Tank.Temp"), 0);
    EXPECT_GT(compareNoCase("TANK.temp", "tank"), 0);
    EXPECT_EQ(compareNoCase("Tank", "TANK"), 0);
}

TEST(NamePrefixOrder, ADevicesTagsSortAndAreFoundAgainWhateverTheOrderOfArrival) {
    std::vector<std::string> arrival{"Tank.Temp", "Level2", "Tank", "Level", "Pump"};
    std::sort(arrival.begin(), arrival.end());
    do {
        ODevice device;
        for (const std::string& name : arrival) device.AddTag(tagNamed(name));
        EXPECT_EQ(tagNames(device),
                  (std::vector<std::string>{"Level", "Level2", "Pump", "Tank", "Tank.Temp"}));
        for (const std::string& name : arrival) {
            const OTag* found = device.FindPushedTag(name);
            ASSERT_NE(found, nullptr) << name;
            EXPECT_EQ(found->m_strName, name);
        }
        EXPECT_EQ(device.FindPushedTag("level")->m_strName, "Level");
        EXPECT_EQ(device.FindPushedTag("TANK.TEMP")->m_strName, "Tank.Temp");
        EXPECT_EQ(device.FindPushedTag("Level3"), nullptr);
    } while (std::next_permutation(arrival.begin(), arrival.end()));
}

TEST(NamePrefixOrder, GroupsInsertedByNameKeepTheShorterNameFirst) {
    std::vector<std::unique_ptr<OTagGroup>> groups;
    for (const char* name : {"Level2", "Tank.Temp", "Level", "Tank"}) {
        auto group = std::make_unique<OTagGroup>();
        group->m_strName = name;
        insertByName(groups, std::move(group));
    }
    std::vector<std::string> names;
    for (const auto& g : groups) names.push_back(g->m_strName);
    EXPECT_EQ(names, (std::vector<std::string>{"Level", "Level2", "Tank", "Tank.Temp"}));
}

}  // namespace
}  // namespace ferrow
