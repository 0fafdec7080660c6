#include "platform/settings/registry_store.h"

#include <gtest/gtest.h>

#include "tests/support/test_environment.h"

using platform::RegistryStore;
using Root = RegistryStore::Root;

TEST(RegistryStore, StringAndDwordValuesRoundTripAndKeysIgnoreCase) {
    testsupport::resetFolders();
    RegistryStore store;
    EXPECT_FALSE(store.queryValue(Root::LocalMachine, "SOFTWARE\\Tools", "PATH"));
    ASSERT_TRUE(store.setString(Root::LocalMachine, "SOFTWARE\\Tools", "PATH", "/usr/bin/info"));
    ASSERT_TRUE(store.setDword(Root::LocalMachine, "SOFTWARE\\Tools", "Count", 0xDEADBEEF));
    const auto path = store.queryValue(Root::LocalMachine, "software\\tools\\", "path");
    ASSERT_TRUE(path);
    EXPECT_EQ(path->type, RegistryStore::kString);
    EXPECT_EQ(path->text, "/usr/bin/info");
    const auto count = RegistryStore().queryValue(Root::LocalMachine, "SOFTWARE\\Tools", "Count");
    ASSERT_TRUE(count);
    EXPECT_EQ(count->type, RegistryStore::kDword);
    EXPECT_EQ(count->number, 0xDEADBEEFu);
    // Roots are separate.
    EXPECT_FALSE(store.keyExists(Root::CurrentUser, "SOFTWARE\\Tools"));
}

TEST(RegistryStore, DeletingAKeyRemovesItsSubKeys) {
    testsupport::resetFolders();
    RegistryStore store;
    store.setString(Root::ClassesRoot, "CLSID\\{1}\\LocalServer32", "", "/bin/ferrow");
    store.createKey(Root::ClassesRoot, "CLSID\\{2}");
    EXPECT_TRUE(store.keyExists(Root::ClassesRoot, "CLSID"));
    EXPECT_EQ(store.subKeys(Root::ClassesRoot, "CLSID"), QStringList({"{1}", "{2}"}));
    EXPECT_TRUE(store.deleteKey(Root::ClassesRoot, "clsid\\{1}"));
    EXPECT_FALSE(store.keyExists(Root::ClassesRoot, "CLSID\\{1}\\LocalServer32"));
    EXPECT_TRUE(store.keyExists(Root::ClassesRoot, "CLSID\\{2}"));
    EXPECT_FALSE(store.deleteKey(Root::ClassesRoot, "CLSID\\{1}"));
}
