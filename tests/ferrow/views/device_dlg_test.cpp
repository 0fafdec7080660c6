#include <gtest/gtest.h>

#include <QAccessible>
#include <QLineEdit>

#include "ferrow/devlink/device_link.h"
#include "views_window.h"

using namespace ferrow;
using namespace viewstest;

namespace {
// A document with devices that point where nobody listens; the dialog edits a new one.
struct DialogCase : ::testing::Test {
    void SetUp() override {
        for (auto [name, address] : {std::pair{"Boiler", "192.168.0.10"}, std::pair{"Pump", "10.0.0.1"}}) {
            doc.AddDevice([&](ODevice& d) {
                d.m_strName = name;
                const QStringList o = QString(address).split('.');
                for (int i = 0; i < 4; ++i)
                    d.m_params.m_strOctet[static_cast<std::size_t>(i)] = o[i].toStdString();
                return true;
            });
        }
        dialogs.clear();
    }
    // OK on the dialog with these fields: the boxes shown and whether it closed.
    QStringList ok(const QString& name, const QString& address, bool* closed = nullptr) {
        dialogs.clear();
        CDeviceDlg dialog(doc, fresh);
        fill(dialog, name, address);
        dialog.show();
        dialog.accept();
        if (closed) *closed = dialog.result() == QDialog::Accepted;
        return dialogs.boxTexts();
    }
    QuietTrace quiet;
    platform::ui::ScriptedDialogs dialogs;
    CDoc doc{MakeLinkedDevice};
    ODevice fresh;
};
}  // namespace

TEST_F(DialogCase, ChecksRunInOrderAndAllOfTheFirstThreeRun) {
    bool closed = true;
    EXPECT_EQ(ok("", "x.168..10", &closed), QStringList({"There must be a device name", "Error in IP address",
                                                         "Error in IP address - illegal number"}));
    EXPECT_FALSE(closed);
    EXPECT_EQ(ok("New", "0.0.0.1"), QStringList({"Error in IP address - illegal number"}));
    EXPECT_EQ(ok("New", "1.0.0.255"), QStringList({"Error in IP address - illegal number"}));
    EXPECT_EQ(ok("New", "1.255.0.1"), QStringList({"Error in IP address - illegal number"}));
    EXPECT_EQ(ok("New", "ab.1.1.1"),
              QStringList({"Error in IP address - illegal number"}));  // letters read 0
    EXPECT_EQ(ok("", "1.2.3.4"), QStringList({"There must be a device name"}));
    // Clashes only when the rest passed, and only the first.
    EXPECT_EQ(ok("Pump", "192.168.0.10", &closed), QStringList({"IP address already used"}));
    EXPECT_FALSE(closed);
    EXPECT_EQ(ok("Pump", "10.0.0.1"), QStringList({"Device name must be unique"}));
    for (const auto& m : dialogs.boxes())
        EXPECT_EQ(m.style & platform::ui::mb::ButtonMask, platform::ui::mb::OkOnly);
}

TEST_F(DialogCase, EdgeCasesThatPass) {
    bool closed = false;
    EXPECT_TRUE(ok("New", "192.168.0.010", &closed).isEmpty());  // octets compare as text
    EXPECT_TRUE(closed);
    EXPECT_TRUE(ok("New", "10.ab.cd.2", &closed).isEmpty());  // middle octets of letters read 0
    EXPECT_TRUE(closed);
    EXPECT_TRUE(ok("pump", "1.0.0.254", &closed).isEmpty());  // names compare with case
    EXPECT_TRUE(closed);
    EXPECT_TRUE(ok("Boiler2", "254.254.254.1").isEmpty());
    EXPECT_TRUE(ok("B", "9x.1.1.1").isEmpty());  // leading digits count
}

TEST_F(DialogCase, FieldsLimitsAndNames) {
    fresh.m_strName = "Device3";
    fresh.m_params.m_strOctet = {"127", "0", "0", "9"};
    fresh.m_params.m_wReserved = 5;
    CDeviceDlg dialog(doc, fresh);
    EXPECT_EQ(dialog.windowTitle(), "Device Properties");
    EXPECT_EQ(dialog.nameEdit()->text(), "Device3");
    EXPECT_EQ(dialog.octetEdit(3)->text(), "9");
    EXPECT_FALSE(dialog.nameEdit()->isReadOnly());
    for (int i = 0; i < 4; ++i) EXPECT_EQ(dialog.octetEdit(i)->maxLength(), 3);
    EXPECT_EQ(dialog.Fields().reserved, 5u);
    // What a screen reader says for each edit comes from the words beside it.
    EXPECT_EQ(QAccessible::queryAccessibleInterface(dialog.nameEdit())->text(QAccessible::Name), "Name:");
    EXPECT_EQ(QAccessible::queryAccessibleInterface(dialog.octetEdit(0))->text(QAccessible::Name),
              "IP Address:");
    EXPECT_EQ(dialog.octetEdit(2)->accessibleName(), "IP Address, octet 3");
}
