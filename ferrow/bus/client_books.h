#pragma once

#include <QHash>
#include <QString>
#include <cstddef>
#include <map>
#include <mutex>
#include <unordered_map>
#include <unordered_set>

#include "ferrow/opc/opc_interfaces.h"

namespace ferrow::bus {

// What one client of the bus may hold in Ferrow: past it, its calls get E_OUTOFMEMORY, nobody else's.
inline constexpr std::size_t kMaxGroupsPerServer = 10000;
inline constexpr std::size_t kMaxItemsPerClient = 1000000;
// How many items of one array call (AddItems, RemoveItems, Read...) run in one turn of the workers: the
// other callers' calls waiting are served between two turns.
inline constexpr std::size_t kItemsPerTurn = 500;

struct ClientLimits {
    std::size_t groupsPerServer = kMaxGroupsPerServer;
    std::size_t items = kMaxItemsPerClient;
    std::size_t itemsPerTurn = kItemsPerTurn;
};

// The groups and items each client of the bus holds, counted to refuse what goes past its limits. A group
// counts for the client that made it while it is in its server's list or on the bus, whichever ends
// last; the items a client added to it count for that client until they are removed or the group ends.
// Objects are known by their COM identity, which stays valid while they count: the server's list or the
// bus holds them. Thread-safe; its lock is a leaf (nothing is called while it is held).
class ClientBooks {
  public:
    explicit ClientBooks(ClientLimits limits) : limits_(limits) {}

    const ClientLimits& limits() const { return limits_; }

    // A place for one more group of `client` on `server`, taken until groupAdded or groupNotAdded; false
    // past the limit.
    bool reserveGroup(const QString& client, platform::com::IUnknown* server);
    void groupNotAdded(const QString& client, platform::com::IUnknown* server);
    // The reserved group is `group` (null when it could not be seen: then it counts until it leaves its
    // server's list), `handle` in its server's list.
    void groupAdded(const QString& client, platform::com::IUnknown* server, platform::com::IUnknown* group,
                    opc::OPCHANDLE handle, bool onBus);
    void groupRemoved(platform::com::IUnknown* server, opc::OPCHANDLE handle);
    // The server of a group made through the bus; null if unknown.
    platform::com::IUnknown* serverOf(platform::com::IUnknown* group);

    // Up to `wanted` more items of `client`: how many it may add, taken until itemsAdded.
    std::size_t reserveItems(const QString& client, std::size_t wanted);
    // Of `reserved` items, `added` are now in `group`; the rest of the room goes back.
    void itemsAdded(const QString& client, platform::com::IUnknown* group, std::size_t reserved,
                    std::size_t added);
    void itemsRemoved(const QString& client, platform::com::IUnknown* group, std::size_t removed);

    void objectExported(platform::com::IUnknown* identity);
    void objectLeft(platform::com::IUnknown* identity);

    // What a client holds now (tests and diagnostics).
    std::size_t itemsOf(const QString& client);
    std::size_t groupsOf(const QString& client, platform::com::IUnknown* server);
    std::size_t clientCount();
    // Groups and server-list entries the books still follow.
    std::size_t recordCount();

  private:
    using Key = platform::com::IUnknown*;
    struct Group {
        QString maker;  // empty: not made through the bus, counts for nobody
        Key server = nullptr;
        opc::OPCHANDLE handle = 0;
        bool inServer = false;
        bool onBus = false;
        QHash<QString, std::size_t> items;
    };
    struct Account {
        std::size_t items = 0;              // added and reserved
        std::map<Key, std::size_t> groups;  // by server, made and reserved
    };

    void endIfGoneLocked(Key group);
    void dropGroupLocked(const QString& client, Key server);
    void pruneLocked(const QString& client);

    const ClientLimits limits_;
    std::mutex lock_;
    QHash<QString, Account> accounts_;
    std::unordered_map<Key, Group> groups_;
    std::unordered_map<Key, std::unordered_set<Key>> groupsOfServer_;
    // Server and handle of every group in a server's list: the group, or null when it could not be seen
    // (the value then names its maker).
    std::map<std::pair<Key, opc::OPCHANDLE>, std::pair<Key, QString>> listed_;
};

}  // namespace ferrow::bus
