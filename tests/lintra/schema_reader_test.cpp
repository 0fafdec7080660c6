#include "lintra/schema_reader.h"

#include <gtest/gtest.h>

namespace lintra {
namespace {

using Kind = SchemaReader::Event::Kind;

std::vector<QByteArray> columnsOf(const DBTable& table) {
    std::vector<QByteArray> names;
    for (const DBColumn& column : table.mColumns) names.push_back(column.mName);
    return names;
}

TEST(SchemaReader, aLineCutBetweenPiecesWaitsForItsRest) {
    DBTables tables;
    SchemaReader reader(tables);
    EXPECT_TRUE(reader.feed("#TABLESen").empty());
    EXPECT_EQ(reader.pending(), "#TABLESen");
    const auto events = reader.feed("sors\r\n#ITEMId\r\n#IT");
    EXPECT_EQ(events, (std::vector<SchemaReader::Event>{{Kind::Table, "Sensors"}}));
    reader.feed("EMName\n#TABLE Alarms\r\n#ITEM Text\r\n\r\nafter\r\n");
    ASSERT_EQ(tables.Count(), 2);
    EXPECT_EQ(tables.Item(1).mName, "Sensors");
    EXPECT_EQ(columnsOf(tables.Item(1)), (std::vector<QByteArray>{"Id", "Name"}));
    // A separator after the keyword belongs to the name.
    EXPECT_EQ(tables.Item(2).mName, " Alarms");
    EXPECT_EQ(columnsOf(tables.Item(2)), (std::vector<QByteArray>{" Text"}));
}

TEST(SchemaReader, reportsAnswerLinesTheEndAndLinesAfterIt) {
    DBTables tables;
    SchemaReader reader(tables);
    const auto events = reader.feed("#ITEMorphan\r\nnote\r\n#TABLET\r\n\r\nlate\r\n");
    EXPECT_EQ(events, (std::vector<SchemaReader::Event>{{Kind::Answer, "#ITEMorphan"},
                                                        {Kind::Answer, "note"},
                                                        {Kind::Table, "T"},
                                                        {Kind::End, ""},
                                                        {Kind::Answer, "late"}}));
    EXPECT_EQ(tables.Count(), 1);
    EXPECT_EQ(tables.Item(1).mColumns.Count(), 0);
}

TEST(SchemaReader, afterAResetColumnsNoLongerGoToAnOldTable) {
    DBTables tables;
    SchemaReader reader(tables);
    reader.feed("#TABLEA\r\n#ITEMx");
    tables.Clear();
    reader.reset();
    EXPECT_TRUE(reader.pending().isEmpty());
    const auto events = reader.feed("#ITEMy\r\n");
    EXPECT_EQ(events, (std::vector<SchemaReader::Event>{{Kind::Answer, "#ITEMy"}}));
}

TEST(SchemaReader, textWithoutLineEndsIsBounded) {
    DBTables tables;
    SchemaReader reader(tables);
    const auto events = reader.feed(QByteArray(SchemaReader::kMaxLine + 1, 'x'));
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].kind, Kind::Answer);
    EXPECT_TRUE(reader.pending().isEmpty());
}

TEST(DBTables, itemsByPositionAndKeyAndRemoval) {
    DBTables tables;
    tables.Add("a");
    tables.Add("b", "KeyB");
    tables.Add("c");
    EXPECT_EQ(tables.Item("keyb").mName, "b");
    EXPECT_THROW(tables.Add("d", "KEYB"), std::invalid_argument);
    EXPECT_THROW(tables.Item(4), std::out_of_range);
    EXPECT_THROW(tables.Item(0), std::out_of_range);
    tables.Remove("KeyB");
    EXPECT_EQ(tables.Count(), 2);
    EXPECT_EQ(tables.Item(2).mName, "c");
    tables.Remove(1);
    EXPECT_EQ(tables.Item(1).mName, "c");
}

}  // namespace
}  // namespace lintra
