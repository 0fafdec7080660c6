#include "ferrow/cli/value_format.h"

#include <gtest/gtest.h>

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <cmath>
#include <cstdlib>
#include <ctime>
#include <limits>
#include <sstream>

#include "ferrow/cli/json_writer.h"
#include "ferrow/cli/unicode_text.h"
#include "platform/com/safearray.h"

namespace {

using namespace platform::com;
using namespace ferrow::cli;

// Sets the process's time zone for one test.
class Zone {
  public:
    explicit Zone(const char* zone) {
        if (const char* old = std::getenv("TZ")) previous_ = old;
        setenv("TZ", zone, 1);
        tzset();
    }
    ~Zone() {
        if (previous_.empty())
            unsetenv("TZ");
        else
            setenv("TZ", previous_.c_str(), 1);
        tzset();
    }

  private:
    std::string previous_;
};

VARIANT parsed(const char* text, VARTYPE type, HRESULT expected = S_OK) {
    VARIANT v;
    EXPECT_EQ(parseValue(text, type, &v), expected) << text;
    return v;
}

TEST(CliValueFormat, QualityWordsWithTheirCode) {
    EXPECT_EQ(qualityText(0xC0), "good (0xC0)");
    EXPECT_EQ(qualityText(0x40), "uncertain (0x40)");
    EXPECT_EQ(qualityText(0x00), "bad (0x00)");
    EXPECT_EQ(qualityText(0x18), "comm failure (0x18)");
    EXPECT_EQ(qualityText(0x1C), "out of service (0x1C)");
    // Limit bits do not change the word; an unnamed sub-status falls back to its class.
    EXPECT_EQ(qualityText(0xC3), "good (0xC3)");
    EXPECT_EQ(qualityText(0x48), "uncertain (0x48)");
    EXPECT_EQ(qualityText(0x80), "bad (0x80)");
}

TEST(CliValueFormat, TimesAreLocalWithMillisecondsAndZone) {
    Zone zone("CET-1");
    // 2026-12-07 15:30:00.123 UTC.
    const FILETIME time = FILETIME::fromTicks(134'411'310'001'230'000ULL);
    EXPECT_EQ(localTimeText(time), "2026-12-07T16:30:00.123");
    EXPECT_EQ(localTimeText(time, {.milliseconds = false, .offset = true}), "2026-12-07T16:30:00+01:00");
    EXPECT_EQ(localTimeText(FILETIME{}), "");
    // Before 1970 the seconds round down, not toward zero.
    const FILETIME early = FILETIME::fromTicks(kUnixEpochTicks - 5'000);  // 0.5 ms before
    EXPECT_EQ(localTimeText(early), "1970-01-01T00:59:59.999");
    Zone west("XST+3:30");
    EXPECT_EQ(localTimeText(time, {.milliseconds = false, .offset = true}), "2026-12-07T12:00:00-03:30");
}

TEST(CliValueFormat, ValuesAsTextAndAsJson) {
    VARIANT v;
    VariantInit(&v);
    EXPECT_EQ(valueText(v), "(empty)");
    v.vt = VT_R4;
    v.fltVal = 7.25f;
    EXPECT_EQ(valueText(v), "7.25");
    v.vt = VT_BOOL;
    v.boolVal = VARIANT_TRUE;
    EXPECT_EQ(valueText(v), "True");
    v.vt = VT_UI1;
    v.bVal = 200;
    EXPECT_EQ(valueText(v), "200");
    v.vt = VT_DATE;
    v.date = 46363.75;  // 2026-12-07 18:00
    EXPECT_EQ(valueText(v), "2026-12-07T18:00:00");
    v.vt = VT_BSTR;
    v.bstrVal = SysAllocString(u"caf\u00e9");
    EXPECT_EQ(valueText(v), "\"caf\xC3\xA9\"");
    VariantClear(&v);

    SAFEARRAY* array = SafeArrayCreateVector(VT_I2, 0, 2);
    std::int32_t index = 1;
    std::int16_t element = -4;
    ASSERT_EQ(SafeArrayPutElement(array, &index, &element), S_OK);
    v.vt = VT_ARRAY | VT_I2;
    v.parray = array;
    EXPECT_EQ(valueText(v), "[0, -4]");

    std::ostringstream out;
    JsonWriter json(out);
    json.beginArray();
    writeValueJson(json, v);
    VariantClear(&v);
    v.vt = VT_R8;
    v.dblVal = 0.1;
    writeValueJson(json, v);
    v.vt = VT_R4;
    v.fltVal = 0.1f;
    writeValueJson(json, v);
    v.dblVal = std::numeric_limits<double>::quiet_NaN();
    v.vt = VT_R8;
    writeValueJson(json, v);
    v.vt = VT_BOOL;
    v.boolVal = VARIANT_FALSE;
    writeValueJson(json, v);
    v.vt = VT_EMPTY;
    writeValueJson(json, v);
    json.endArray();
    EXPECT_EQ(out.str(), "[[0,-4],0.1,0.1,\"NaN\",false,null]");
}

TEST(CliValueFormat, TypedTextFollowsTheItemsType) {
    VARIANT v = parsed("7.25", VT_R4);
    EXPECT_EQ(v.vt, VT_R4);
    EXPECT_EQ(v.fltVal, 7.25f);
    v = parsed(" -3 ", VT_I2);
    EXPECT_EQ(v.vt, VT_I2);
    EXPECT_EQ(v.iVal, -3);
    v = parsed("TRUE", VT_BOOL);
    EXPECT_EQ(v.boolVal, VARIANT_TRUE);
    v = parsed("0", VT_BOOL);
    EXPECT_EQ(v.boolVal, VARIANT_FALSE);
    v = parsed("300", VT_UI1, DISP_E_OVERFLOW);
    EXPECT_EQ(v.vt, VT_EMPTY);
    v = parsed("abc", VT_I4, DISP_E_TYPEMISMATCH);
    EXPECT_EQ(v.vt, VT_EMPTY);
    parsed("", VT_R4, DISP_E_TYPEMISMATCH);
    v = parsed("caf\u00e9", VT_BSTR);
    EXPECT_EQ(std::u16string(view(v.bstrVal)), u"caf\u00e9");
    VariantClear(&v);
}

TEST(CliValueFormat, JsonStringsAreEscapedAndParse) {
    std::ostringstream out;
    JsonWriter json(out);
    json.beginObject();
    json.member("text", std::string("quote \" backslash \\ tab \t bell \x07 end"));
    json.member("count", std::uint32_t{3});
    json.key("empty");
    json.beginArray();
    json.endArray();
    json.endObject();
    const QJsonDocument parsedDoc = QJsonDocument::fromJson(QByteArray::fromStdString(out.str()));
    ASSERT_TRUE(parsedDoc.isObject()) << out.str();
    EXPECT_EQ(parsedDoc.object()["text"].toString(), "quote \" backslash \\ tab \t bell \x07 end");
    EXPECT_EQ(parsedDoc.object()["count"].toInt(), 3);
    EXPECT_TRUE(parsedDoc.object()["empty"].toArray().isEmpty());
}

TEST(CliValueFormat, JsonStringsCarryDelAndTheC1ControlsAsEscapes) {
    const std::string text =
        "del \x7F csi \xC2\x9B"
        "2J nel \xC2\x85 pad \xC2\x80 e \xC3\xA9";
    const std::string json = JsonWriter::quoted(text);
    EXPECT_EQ(json.find('\x7F'), std::string::npos) << json;
    EXPECT_EQ(json.find("\xC2"), std::string::npos) << json;
    EXPECT_NE(json.find("\\u009b"), std::string::npos) << json;
    EXPECT_NE(json.find("\xC3\xA9"), std::string::npos) << "other characters are kept as they are";
    const QJsonDocument parsedDoc = QJsonDocument::fromJson(QByteArray::fromStdString("[" + json + "]"));
    ASSERT_TRUE(parsedDoc.isArray()) << json;
    EXPECT_EQ(parsedDoc.array().at(0).toString().toStdString(), text);
}

TEST(CliValueFormat, MalformedTextOnEitherSideBecomesTheReplacementCharacter) {
    EXPECT_EQ(wideFromUtf8("Tank \xC3\xA9\xF0\x9F\x98\x80"), u"Tank \u00e9\U0001F600");
    EXPECT_EQ(wideFromUtf8("a\xFF"
                           "b\xC3"),
              u"a\uFFFDb\uFFFD");
    EXPECT_EQ(wideFromUtf8("\xC0\xAF"), u"\uFFFD\uFFFD");            // an overlong '/'
    EXPECT_EQ(wideFromUtf8("\xED\xA0\x80"), u"\uFFFD\uFFFD\uFFFD");  // a surrogate
    EXPECT_EQ(utf8FromWide(u"\U0001F600 \u00e9"), "\xF0\x9F\x98\x80 \xC3\xA9");
    EXPECT_EQ(utf8FromWide(std::u16string(1, u'\xD800') + u"x"), "\xEF\xBF\xBDx");
}

TEST(CliValueFormat, ControlCharactersReachNoTerminal) {
    EXPECT_EQ(printable("Tank\x1B[2J\r\nEnd\x7F"), "Tank\\x1B[2J\\x0D\\x0AEnd\\x7F");
    EXPECT_EQ(printable("a\xC2\x9B"
                        "b \xC3\xA9"),
              "a\\u009Bb \xC3\xA9");  // C1 CSI escaped, é kept
    VARIANT v;
    VariantInit(&v);
    v.vt = VT_BSTR;
    v.bstrVal = SysAllocString(u"x\u001b]0;owned\u0007");
    EXPECT_EQ(valueText(v), "\"x\\x1B]0;owned\\x07\"");
    VariantClear(&v);
}

}  // namespace
