#include <gtest/gtest.h>

#include <QFile>

#include "ferrow/model/cdoc.h"
#include "ferrow/model/device.h"
#include "ferrow/model/tdb_archive.h"
#include "platform/ui/scripted_dialogs.h"
#include "tests/support/test_environment.h"

using namespace ferrow;

namespace {

// Records the hints the document sends.
struct RecordingView : CDocView {
    std::vector<std::pair<int, OTagGroup*>> hints;
    int tagLoadingStarts = 0;
    void OnUpdate(int hint, OTagGroup* object) override { hints.emplace_back(hint, object); }
    void StartTagLoading() override { ++tagLoadingStarts; }
};

std::unique_ptr<OqnTag> tag(const std::string& name) {
    auto t = std::make_unique<OqnTag>();
    t->m_strName = name;
    return t;
}

// Devices of these tests have no link: connects fail at once.
ODevice* addDevice(CDoc& doc, const std::string& name = {}, const std::string& last = "1") {
    return doc.AddDevice([&](ODevice& d) {
        if (!name.empty()) d.m_strName = name;
        d.m_params.m_strOctet = {"127", "0", "0", last};
        return true;
    });
}

std::string names(const std::vector<std::unique_ptr<OTag>>& tags) {
    std::string out;
    for (const auto& t : tags) out += t->m_strName + " ";
    return out;
}

class Document : public ::testing::Test {
  protected:
    void SetUp() override {
        doc.m_pDeviceView = &view;
        doc.SetClientsConnected([this] { return clientObjects != 0; });
    }
    // What the program counts as OPC objects held by clients.
    int clientObjects = 0;
    platform::ui::ScriptedDialogs dialogs;
    RecordingView view;
    CDoc doc;
};

}  // namespace

TEST_F(Document, TagsAreKeptInNameOrderIgnoringCase) {
    ODevice device;
    for (const char* n : {"beta", "Alpha", "alpha", "Gamma", "ALPHA", "_x"}) device.AddTag(tag(n));
    // Equal names keep their insertion order; '_' sorts before letters as they fold to lower case.
    EXPECT_EQ(names(device.m_tags), "_x Alpha alpha ALPHA beta Gamma ");
    EXPECT_EQ(device.m_tags[0]->m_pGroup, &device);
}

TEST_F(Document, AddDeviceNumbersAndOrdersDevices) {
    EXPECT_EQ(doc.AddDevice([](ODevice&) { return false; }), nullptr);  // cancelled: the number is used up
    ODevice* second = addDevice(doc);
    ASSERT_NE(second, nullptr);
    EXPECT_EQ(second->m_strName, "Device2");
    EXPECT_EQ(doc.m_pSelection.load(), second);
    EXPECT_EQ(second->m_pParent, &doc.m_root);
    addDevice(doc, "Boiler");
    addDevice(doc, "device9");
    addDevice(doc, "Device9");
    ASSERT_EQ(doc.DeviceCount(), 4u);
    EXPECT_EQ(doc.Device(0)->m_strName, "Boiler");
    EXPECT_EQ(doc.Device(1)->m_strName, "Device2");
    EXPECT_EQ(doc.Device(2)->m_strName, "device9");
    EXPECT_EQ(doc.Device(3)->m_strName, "Device9");
    EXPECT_EQ(doc.m_nNextDevice, 6);
    EXPECT_TRUE(doc.IsModified());
    ASSERT_FALSE(view.hints.empty());
    EXPECT_EQ(view.hints.back(), std::make_pair(int{kHintAdded}, static_cast<OTagGroup*>(doc.Device(3))));
}

TEST_F(Document, FindItemRules) {
    ODevice* first = addDevice(doc, "Plant");
    ODevice* second = addDevice(doc, "PLANT", "2");  // differs only in case: both accepted
    first->AddTag(tag("Level"));
    first->AddTag(tag("Tank.Temp"));
    second->AddTag(tag("Level"));
    ODevice* found = nullptr;
    OTag* level = doc.FindItem("plant.LEVEL", &found);
    ASSERT_NE(level, nullptr);
    EXPECT_EQ(found, first);  // the earlier one in the list wins
    EXPECT_EQ(level->m_pGroup, first);
    EXPECT_EQ(doc.FindItem("Plant.Level"), level);
    EXPECT_EQ(doc.FindItem("PlantLevel"), nullptr);
    EXPECT_EQ(doc.FindItem(".Level"), nullptr);
    EXPECT_EQ(doc.FindItem("Plant."), nullptr);
    EXPECT_EQ(doc.FindItem("Nowhere.Level"), nullptr);
    // A dot in a datapoint's name reads as a group separator.
    EXPECT_EQ(doc.FindItem("Plant.Tank.Temp"), nullptr);
    EXPECT_EQ(first->FindPushedTag("tank.temp")->m_strName, "Tank.Temp");
    EXPECT_EQ(first->GetPath(), "Plant.");
}

// An OPC item's use of a tag keeps the tag's device alive: taken under the document lock, and
// DeleteSelection refuses while it lasts.
TEST_F(Document, DeleteSelectionRefusesWhileAnItemHoldsATag) {
    ODevice* plant = addDevice(doc, "Plant");
    plant->AddTag(tag("Level"));
    TagRef held = doc.AcquireItem("plant.level");
    ASSERT_TRUE(held);
    EXPECT_EQ(held->m_nRef.load(), 1);
    EXPECT_FALSE(doc.AcquireItem("Plant.Nothing"));
    TagRef copy = held;  // an inactive item holds it as much as an active one
    held.reset();
    doc.DeleteSelection();
    EXPECT_EQ(doc.DeviceCount(), 1u);
    copy.reset();
    EXPECT_EQ(plant->m_tags[0]->m_nRef.load(), 0);
    doc.DeleteSelection();
    EXPECT_EQ(doc.DeviceCount(), 0u);
}

TEST_F(Document, DeleteSelectionSelectsThePreviousDevice) {
    ODevice* a = addDevice(doc, "A");
    ODevice* b = addDevice(doc, "B", "2");
    b->m_nUseCount = 1;
    doc.DeleteSelection();  // held by a watcher: nothing happens
    EXPECT_EQ(doc.DeviceCount(), 2u);
    b->m_nUseCount = 0;
    doc.m_bMonitor = true;
    doc.DeleteSelection();  // monitoring: nothing happens
    EXPECT_EQ(doc.DeviceCount(), 2u);
    doc.m_bMonitor = false;
    doc.DeleteSelection();
    ASSERT_EQ(doc.DeviceCount(), 1u);
    EXPECT_EQ(doc.m_pSelection.load(), a);
    doc.DeleteSelection();
    EXPECT_EQ(doc.DeviceCount(), 0u);
    EXPECT_EQ(doc.m_pSelection.load(), nullptr);
    doc.DeleteSelection();  // nothing selected: nothing happens
    EXPECT_EQ(view.hints.back().first, kHintRebuild);
}

TEST_F(Document, SaveAndOpenDropTagsKeepDevicesAndNumbering) {
    ODevice* device = addDevice(doc, "Mixer", "3");
    device->AddTag(tag("Level"));
    device->m_bSimulate = 1;
    const std::string path = (testsupport::freshFolder("tdb") + "/plant.tdb").toStdString();
    ASSERT_TRUE(doc.OnSaveDocument(path));
    EXPECT_FALSE(doc.IsModified());

    view.hints.clear();
    ASSERT_TRUE(doc.OnOpenDocument(path));
    ASSERT_EQ(doc.DeviceCount(), 1u);
    ODevice* reopened = doc.Device(0);
    EXPECT_EQ(reopened->m_strName, "Mixer");
    EXPECT_EQ(reopened->m_params.Address(), "127.0.0.3");
    EXPECT_TRUE(reopened->m_tags.empty());
    EXPECT_EQ(reopened->m_bSimulate, 0u);
    EXPECT_EQ(reopened->m_pParent, &doc.m_root);
    EXPECT_EQ(doc.m_pSelection.load(), reopened);
    EXPECT_EQ(doc.m_nNextDevice, 2);
    ASSERT_GE(view.hints.size(), 2u);
    EXPECT_EQ(view.hints.front().first, kHintClear);
    EXPECT_EQ(view.hints.back().first, kHintRebuild);
    EXPECT_EQ(view.tagLoadingStarts, 1);
    EXPECT_TRUE(dialogs.boxes().empty());
}

TEST_F(Document, BadFileIsReportedAndLeavesAnEmptyConfiguration) {
    addDevice(doc, "Old");
    const QString path = testsupport::freshFolder("bad") + "/bad.tdb";
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(QByteArray::fromHex("FFFF0100040043446F630200FFFF01000900"));  // ends inside a class record
    file.close();
    const DocResult opened = doc.OnOpenDocument(path.toStdString());
    EXPECT_FALSE(opened);
    EXPECT_TRUE(opened.warning);
    EXPECT_NE(opened.text.find("unexpected file format"), std::string::npos) << opened.text;
    EXPECT_TRUE(dialogs.boxes().empty());  // the window shows it
    EXPECT_EQ(doc.DeviceCount(), 0u);
    EXPECT_EQ(doc.m_nNextDevice, 1);
    EXPECT_EQ(doc.m_pSelection.load(), nullptr);
}

TEST_F(Document, EmptyFileOpensAsEmptyConfiguration) {
    const QString path = testsupport::freshFolder("empty") + "/empty.tdb";
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.close();
    EXPECT_TRUE(doc.OnOpenDocument(path.toStdString()));
    EXPECT_EQ(doc.DeviceCount(), 0u);
    EXPECT_TRUE(dialogs.boxes().empty());
}

TEST_F(Document, NewAndOpenAreRefusedWhileClientsAreConnected) {
    addDevice(doc, "Kept");
    clientObjects = 1;
    const DocResult renewed = doc.OnNewDocument();
    const DocResult opened = doc.OnOpenDocument("/nonexistent.tdb");
    EXPECT_FALSE(renewed);
    EXPECT_FALSE(opened);
    EXPECT_EQ(renewed.text, "Cannot change files while OPC Clients are connected to this server.");
    EXPECT_EQ(opened.text, renewed.text);
    EXPECT_FALSE(renewed.warning);
    EXPECT_TRUE(dialogs.boxes().empty());
    EXPECT_EQ(doc.DeviceCount(), 1u);
    clientObjects = 0;
    EXPECT_TRUE(doc.OnNewDocument());
    EXPECT_EQ(doc.DeviceCount(), 0u);
    EXPECT_EQ(doc.m_nNextDevice, 1);
}

TEST_F(Document, SaveFailureIsReportedAndKeepsTheDocumentModified) {
    addDevice(doc, "New");
    const std::string path = (testsupport::freshFolder("gone") + "/missing/folder/plant.tdb").toStdString();
    const DocResult saved = doc.OnSaveDocument(path);
    EXPECT_FALSE(saved);
    EXPECT_TRUE(saved.text.starts_with("Cannot save"));
    EXPECT_TRUE(dialogs.boxes().empty());
    EXPECT_TRUE(doc.IsModified());
    EXPECT_FALSE(QFile::exists(QString::fromStdString(path)));
}

TEST(Analog, TextForm) {
    OAnalogData analog;
    analog.m_strUnits = "bar";
    EXPECT_EQ(analog.Text(), "Scaling: input range 0 to 1000 scales to 0 to 10 bar\n");
    OqnTag t;
    EXPECT_EQ(t.m_wQuality, kQualityUncertain);
    EXPECT_STREQ(t.AccessText(), "Output");
    t.m_bOutput = 0;
    EXPECT_STREQ(t.AccessText(), "Input");
}
