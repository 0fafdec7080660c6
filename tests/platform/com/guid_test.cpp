#include "platform/com/guid.h"

#include <gtest/gtest.h>

#include "ferrow/opc/opc_ids.h"

using namespace platform::com;

TEST(Guid, RegistryFormRoundTripsAndMatchesTheStructForm) {
    EXPECT_EQ(formatGuid(ferrow::opc::IID_IOPCServer), "{39C13A4D-011E-11D0-9675-0020AFD8ADB3}");
    EXPECT_EQ(formatGuid(ferrow::opc::CLSID_FerrowServer), "{7CFD3EC3-B0F7-11D2-AA12-0080C79E15A1}");
    EXPECT_EQ(formatGuid(ferrow::opc::CATID_OPCDAServer20), "{63D5F432-CFE4-11D1-B2C8-0060083BA1FB}");
    EXPECT_EQ(formatGuid(IID_IConnectionPoint), "{B196B286-BAB4-101A-B69C-00AA00341D07}");
    const auto parsed = parseGuid("{7cfd3ec3-b0f7-11d2-aa12-0080c79e15a1}");
    ASSERT_TRUE(parsed);
    EXPECT_EQ(*parsed, ferrow::opc::CLSID_FerrowServer);
    EXPECT_EQ(parseGuid(formatGuid(IID_IUnknown)), IID_IUnknown);
}

TEST(Guid, MalformedTextIsRefused) {
    for (const char* bad :
         {"", "7CFD3EC3-B0F7-11D2-AA12-0080C79E15A1", "{7CFD3EC3-B0F7-11D2-AA12-0080C79E15A}",
          "{7CFD3EC3-B0F7-11D2-AA12-0080C79E15A1", "{7CFD3EC3+B0F7-11D2-AA12-0080C79E15A1}",
          "{7CFD3EC3-B0F7-11D2-AA12-0080C79E15AG}", "{7CFD3EC3-B0F7-11D2-AA1200-80C79E15A1}"})
        EXPECT_FALSE(parseGuid(bad)) << bad;
}
