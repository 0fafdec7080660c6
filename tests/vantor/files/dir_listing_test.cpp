#include "vantor/files/dir_listing.h"

#include <gtest/gtest.h>

#include <QtEndian>

#include "vantor/files/dir_entry.h"

using namespace vantor::files;

namespace {
// A listing record built by hand: attributes, size, year, month, weekday, day, h, m, s, ms, name + NUL.
QByteArray record(quint32 attributes, qint32 size, std::array<quint16, 8> time, const QByteArray& name,
                  bool withNul = true) {
    QByteArray r;
    auto put32 = [&](quint32 v) {
        v = qToLittleEndian(v);
        r.append(reinterpret_cast<const char*>(&v), 4);
    };
    put32(attributes);
    put32(static_cast<quint32>(size));
    for (quint16 v : time) {
        v = qToLittleEndian(v);
        r.append(reinterpret_cast<const char*>(&v), 2);
    }
    r += name;
    if (withNul) r += '\0';
    return r;
}
}  // namespace

TEST(ParseDirEntry, ReadsEveryFieldOfAHandBuiltRecordAndRemovesIt) {
    QByteArray buffer = record(0x21, 123456, {2003, 7, 1, 4, 9, 5, 59, 999}, "\\Windows\\a.txt") + "rest";
    const DirEntry e = ParseDirEntry(buffer);
    EXPECT_EQ(e.attributes, 0x21u);
    EXPECT_EQ(e.size, 123456);
    EXPECT_EQ(e.date, "04.07.03  ");
    EXPECT_EQ(e.time, "09:05:59");
    EXPECT_EQ(e.fullName, "\\Windows\\a.txt");
    EXPECT_EQ(buffer, "rest");
}

TEST(ParseDirEntry, SizeIsSignedAndNamesKeepHighBytes) {
    QByteArray buffer = record(0, -1, {1999, 12, 0, 31, 23, 59, 0, 0}, "\\caf\xe9");
    const DirEntry e = ParseDirEntry(buffer);
    EXPECT_EQ(e.size, -1);
    EXPECT_EQ(e.date, "31.12.99  ");
    EXPECT_EQ(e.fullName, "\\caf\xe9");
}

TEST(ParseDirEntry, ACutRecordGivesNoEntryAndEmptiesTheBuffer) {
    for (QByteArray buffer : {record(0, 1, {2020, 1, 0, 1, 0, 0, 0, 0}, "\\a").left(10),
                              record(0, 1, {2020, 1, 0, 1, 0, 0, 0, 0}, "\\no-nul", false)}) {
        const DirEntry e = ParseDirEntry(buffer);
        EXPECT_TRUE(e.fullName.isEmpty());
        EXPECT_TRUE(buffer.isEmpty());
    }
}

TEST(AttributeLetters, FollowTheFixedOrderWhateverTheBits) {
    EXPECT_EQ(AttributeLetters(0x1 | 0x20), "RA");
    EXPECT_EQ(AttributeLetters(0x20 | 0x4 | 0x2), "HSA");
    EXPECT_EQ(AttributeLetters(0x1000 | 0x2000 | 0x2 | 0x1 | 0x4 | 0x20 | 0x800), "FMHRSAC");
    EXPECT_EQ(AttributeLetters(0x10 | 0x40 | 0x80), "");
}

TEST(ListingRows, BuildsTextsRelativeToTheFolderWithFlashFreeBytesAndHistory) {
    QByteArray buffer = record(0x10, 0, {2021, 3, 0, 2, 1, 2, 3, 0}, "\\MorvFlash") +
                        record(0x10, 0, {2021, 3, 0, 2, 1, 2, 3, 0}, "\\Windows") +
                        record(0x21, 42, {2021, 3, 0, 2, 1, 2, 3, 0}, "\\Readme.txt");
    // The flash's free bytes are in the flash folder's size field.
    buffer.replace(4, 4, QByteArray::fromHex("39300000"));  // 12345
    DirHistory history;
    history.add(".\\", ".");
    const auto rows = listingRows(buffer, "\\", history);
    ASSERT_EQ(rows.size(), 3u);
    EXPECT_EQ(rows[0].text, "MorvFlash");
    EXPECT_EQ(rows[0].size, "   12345 Byte free");
    EXPECT_EQ(rows[0].kind, 'D');
    EXPECT_EQ(rows[1].size, " ");
    EXPECT_EQ(rows[2].text, "Readme.txt");
    EXPECT_EQ(rows[2].key, "\\Readme.txt");
    EXPECT_EQ(rows[2].size, "        42 Byte");
    EXPECT_EQ(rows[2].date, "02.03.21  01:02:03");
    EXPECT_EQ(rows[2].attributes, "RA");
    ASSERT_EQ(history.entries().size(), 3u);
    EXPECT_EQ(history.entries()[1].second, "\\MorvFlash");
}

TEST(SizeTexts, AreRightAlignedAndNeverLoseDigits) {
    EXPECT_EQ(fileSizeText(0), "         0 Byte");
    EXPECT_EQ(fileSizeText(2147483647), "2147483647 Byte");
    EXPECT_EQ(flashFreeText(2147483647), "2147483647 Byte free");
}

TEST(ListingRows, ASecondEntryWithTheSameNameIsLeftOutAndACutTailStopsTheList) {
    const QByteArray a = record(0x20, 1, {2021, 1, 0, 1, 0, 0, 0, 0}, "\\T\\a");
    QByteArray buffer = a + a + record(0x20, 2, {2021, 1, 0, 1, 0, 0, 0, 0}, "\\T\\b") + a.left(30);
    DirHistory history;
    const auto rows = listingRows(buffer, "\\T\\", history);
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[0].text, "a");
    EXPECT_EQ(rows[1].text, "b");
}

TEST(SortRowsByDate, AscendingThenDescendingByTimeNotByText) {
    std::vector<ListRow> rows(4);
    rows[0].key = "1999";
    rows[0].date = "01.01.99  00:00:00";
    rows[1].key = "2003-late";
    rows[1].date = "05.01.03  12:00:00";
    rows[2].key = "2003-early";
    rows[2].date = "05.01.03  09:00:00";
    rows[3].key = "2002";
    rows[3].date = "31.12.02  23:59:59";
    sortRowsByDate(rows, false);
    EXPECT_EQ(rows[0].key, "1999");
    EXPECT_EQ(rows[1].key, "2002");
    EXPECT_EQ(rows[2].key, "2003-early");
    EXPECT_EQ(rows[3].key, "2003-late");
    std::reverse(rows.begin(), rows.end());
    std::swap(rows[0], rows[2]);  // any order before: descending still sorts
    sortRowsByDate(rows, true);
    EXPECT_EQ(rows[0].key, "2003-late");
    EXPECT_EQ(rows[3].key, "1999");
}
