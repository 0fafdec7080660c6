#include <QAction>
#include <QTest>
#include <QTreeWidget>

#include "ferrow/app/c_main_frame.h"
#include "ferrow/app/opc_binding.h"
#include "ferrow/app/views/device_commands.h"
#include "ferrow/app/views/device_view.h"
#include "ferrow/model/cdoc.h"
#include "ferrow/model/device.h"
#include "ferrow/opc/opc_ids.h"
#include "ferrow/opc/opc_interfaces.h"
#include "platform/com/class_table.h"
#include "platform/com/com_ptr.h"
#include "platform/com/task_memory.h"
#include "platform/ui/wait.h"
#include "tests/ferrow/app/app_fixture.h"
#include "tests/support/device_fixture.h"

// The window against Ferrow's real OPC objects: a client in this process creates the server through
// the class object that the window's COM server thread registered, and holds a group with an item on a
// tag of a simulated device.

using namespace std::chrono_literals;
using namespace platform::com;
using namespace ferrow::opc;
namespace mb = platform::ui::mb;

namespace {

const QString kClientsQuestion =
    QStringLiteral("OPC Clients are currently connected to this server, Exit anyway?");

class WindowWithOpcClients : public ferrowtest::FerrowAppTest {
  protected:
    // Ferrow with its real COM server work, a configuration of one simulated device ("Plant") and the
    // device loaded and selected in the tree.
    void startWithPlant() {
        sim = testsupport::startDevice();
        ASSERT_TRUE(sim);
        ferrow::TdbDocument file;
        file.nextDevice = 2;
        file.root.name = "Group";
        ferrow::TdbGroup plantGroup;
        plantGroup.isDevice = true;
        plantGroup.name = "Plant";
        const QStringList octets = sim->options().address.split(QLatin1Char('.'));
        for (int i = 0; i < 4; ++i) plantGroup.octets[static_cast<std::size_t>(i)] = octets[i].toStdString();
        file.root.groups.push_back(plantGroup);
        const std::string bytes = ferrow::WriteTdb(file);
        path = files + QStringLiteral("/plant.tdb");
        QFile out(path);
        ASSERT_TRUE(out.open(QIODevice::WriteOnly));
        out.write(bytes.data(), static_cast<qint64>(bytes.size()));
        out.close();

        apps.push_back(std::make_unique<ferrow::CFerrowApp>(QStringList{path}, ferrow::opcServerHooks(),
                                                            QStringLiteral("/opt/quillon/bin/ferrow")));
        app = apps.back().get();
        ASSERT_TRUE(app->InitInstance());
        if (ferrow::CSplashWnd::current()) ferrow::CSplashWnd::current()->close();
        frame = app->mainFrame();
        ASSERT_EQ(app->document()->DeviceCount(), 1u);
        plant = app->document()->Device(0);
        ASSERT_TRUE(platform::ui::waitUntil([&] { return plant->m_bTagsLoaded.load(); }, 30s));

        // The user picks the device in the tree.
        QTreeWidgetItem* item = frame->m_pDeviceView->itemOf(plant);
        ASSERT_NE(item, nullptr);
        QTest::mouseClick(frame->m_pDeviceView->viewport(), Qt::LeftButton, {},
                          frame->m_pDeviceView->visualItemRect(item).center());
        ASSERT_EQ(app->document()->m_pSelection.load(), plant);
        ASSERT_TRUE(deleteShown(true)) << "a loaded, unused device can be deleted";
    }

    // Whether the frame's own command updates come to show Delete enabled (or disabled).
    bool deleteShown(bool enabled) {
        return platform::ui::waitUntil(
            [&] { return frame->m_pCommands->deleteSelection->isEnabled() == enabled; }, 30s);
    }

    // A client's server, once the COM server thread has registered the class object.
    ComPtr<IOPCServer> connectClient() {
        ComPtr<IOPCServer> created;
        platform::ui::waitUntil(
            [&] {
                return CoCreateInstance(CLSID_FerrowServer, nullptr, CLSCTX_LOCAL_SERVER, IID_IOPCServer,
                                        created.putVoid()) == S_OK;
            },
            5s);
        return created;
    }

    // An active group with one item on the device's Level tag; the group's server handle.
    OPCHANDLE addGroupWithItem(IOPCServer* server, ComPtr<IOPCItemMgt>* items) {
        OPCHANDLE handle = 0;
        DWORD rate = 0;
        EXPECT_EQ(server->AddGroup(u"Tank", 1, 100, 1, nullptr, nullptr, 0, &handle, &rate, IID_IOPCItemMgt,
                                   reinterpret_cast<IUnknown**>(items->put())),
                  S_OK);
        OPCITEMDEF item{};
        item.szItemID = const_cast<char16_t*>(u"Plant.Level");
        item.bActive = 1;
        OPCITEMRESULT* results = nullptr;
        HRESULT* errors = nullptr;
        EXPECT_EQ((*items)->AddItems(1, &item, &results, &errors), S_OK);
        if (errors) {
            EXPECT_EQ(errors[0], S_OK);
        }
        CoTaskMemFree(results);
        CoTaskMemFree(errors);
        return handle;
    }

    // The client lets go before the window ends, as at the end of a test body.
    void TearDown() override {
        items.reset();
        server.reset();
        ferrowtest::FerrowAppTest::TearDown();
    }

    // The window with its device, and a client holding a group with one item on it.
    void startWithClientHoldingAnItem() {
        startWithPlant();
        if (HasFatalFailure()) return;
        server = connectClient();
        ASSERT_TRUE(server);
        group = addGroupWithItem(server.get(), &items);
        ASSERT_TRUE(items);
    }

    std::unique_ptr<devsim::SimulatedDevice> sim;
    ComPtr<IOPCServer> server;
    ComPtr<IOPCItemMgt> items;
    OPCHANDLE group = 0;
    QString path;
    ferrow::CFerrowApp* app = nullptr;
    ferrow::CMainFrame* frame = nullptr;
    ferrow::ODevice* plant = nullptr;
};

}  // namespace

TEST_F(WindowWithOpcClients, DeviceHeldByAGroupCannotBeDeletedAndExitAsksUntilTheClientLetsGo) {
    startWithClientHoldingAnItem();
    if (HasFatalFailure()) return;

    // In use: the window takes Delete away, and the key does nothing.
    EXPECT_TRUE(deleteShown(false));
    frame->activateWindow();
    QTest::keyClick(frame->m_pDeviceView, Qt::Key_Delete);
    EXPECT_EQ(app->document()->DeviceCount(), 1u);
    app->document()->DeleteSelection();
    EXPECT_EQ(app->document()->DeviceCount(), 1u);

    boxes.answerNext(mb::No);
    frame->actAppExit->trigger();
    ASSERT_EQ(boxes.boxes().size(), 1u);
    EXPECT_EQ(boxes.boxes()[0].text, kClientsQuestion);
    EXPECT_TRUE(frame->isVisible());
    EXPECT_TRUE(app->comThreadRunning());

    // The client removes its group and lets go of everything.
    EXPECT_EQ(server->RemoveGroup(group, 0), S_OK);
    items.reset();
    server.reset();
    EXPECT_EQ(ferrow::objectCount.load(), 0);
    EXPECT_EQ(plant->m_nUseCount.load(), 0);
    EXPECT_FALSE(plant->TagsHeld());
    EXPECT_TRUE(deleteShown(true));

    // Exit no longer asks about clients (only about the configuration the Delete changed).
    QTest::keyClick(frame->m_pDeviceView, Qt::Key_Delete);
    EXPECT_EQ(app->document()->DeviceCount(), 0u);
    boxes.answerNext(mb::No);
    frame->actAppExit->trigger();
    EXPECT_FALSE(frame->isVisible());
    ASSERT_EQ(boxes.boxes().size(), 2u);
    EXPECT_EQ(boxes.boxes()[1].text, QStringLiteral("Save changes to %1?").arg(path));
}

TEST_F(WindowWithOpcClients, ExitAnywayCutsOffTheClientsAndFreesTheDevice) {
    startWithClientHoldingAnItem();
    if (HasFatalFailure()) return;
    EXPECT_TRUE(deleteShown(false));

    boxes.answerNext(mb::Yes);
    frame->actAppExit->trigger();
    ASSERT_EQ(boxes.boxes().size(), 1u);
    EXPECT_EQ(boxes.boxes()[0].text, kClientsQuestion);
    EXPECT_FALSE(frame->isVisible());
    EXPECT_FALSE(app->comThreadRunning());

    // The servers and their groups are gone although the client still holds them.
    EXPECT_EQ(ferrow::objectCount.load(), 0);
    EXPECT_EQ(plant->m_nUseCount.load(), 0);
    EXPECT_FALSE(plant->TagsHeld());
    OPCSERVERSTATUS* status = nullptr;
    EXPECT_EQ(server->GetStatus(&status), RPC_E_DISCONNECTED);
    EXPECT_EQ(status, nullptr);
    OPCHANDLE handle = 1;
    HRESULT* errors = nullptr;
    EXPECT_EQ(items->RemoveItems(1, &handle, &errors), RPC_E_DISCONNECTED);
    // Nobody can create a server any more, and the client's late releases are harmless.
    ComPtr<IOPCServer> late;
    EXPECT_NE(
        CoCreateInstance(CLSID_FerrowServer, nullptr, CLSCTX_LOCAL_SERVER, IID_IOPCServer, late.putVoid()),
        S_OK);
    items.reset();
    server.reset();
    EXPECT_EQ(ferrow::objectCount.load(), 0);
}

TEST_F(WindowWithOpcClients, ExitAnywayCancelledInTheSaveQuestionKeepsServingTheClients) {
    startWithClientHoldingAnItem();
    if (HasFatalFailure()) return;
    app->document()->SetModifiedFlag();

    boxes.answerNext(mb::Yes);
    boxes.answerNext(mb::Cancel);
    frame->actAppExit->trigger();
    EXPECT_EQ(boxes.boxTexts(),
              (QStringList{kClientsQuestion, QStringLiteral("Save changes to %1?").arg(path)}));
    EXPECT_TRUE(frame->isVisible());
    EXPECT_TRUE(app->comThreadRunning());

    // The client's objects still answer, its item still holds the device, and new clients get in.
    OPCSERVERSTATUS* status = nullptr;
    ASSERT_EQ(server->GetStatus(&status), S_OK);
    EXPECT_EQ(status->dwGroupCount, 1u);
    CoTaskMemFree(status->szVendorInfo);
    CoTaskMemFree(status);
    EXPECT_EQ(plant->m_nUseCount.load(), 1);
    ComPtr<IOPCServer> second;
    EXPECT_EQ(
        CoCreateInstance(CLSID_FerrowServer, nullptr, CLSCTX_LOCAL_SERVER, IID_IOPCServer, second.putVoid()),
        S_OK);
    second.reset();
    items.reset();
    server.reset();
    EXPECT_EQ(ferrow::objectCount.load(), 0);
}
