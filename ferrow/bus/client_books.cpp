#include "ferrow/bus/client_books.h"

#include <algorithm>

namespace ferrow::bus {

using platform::com::IUnknown;

bool ClientBooks::reserveGroup(const QString& client, IUnknown* server) {
    std::lock_guard guard(lock_);
    std::size_t& groups = accounts_[client].groups[server];
    if (groups >= limits_.groupsPerServer) {
        pruneLocked(client);
        return false;
    }
    ++groups;
    return true;
}

void ClientBooks::groupNotAdded(const QString& client, IUnknown* server) {
    std::lock_guard guard(lock_);
    dropGroupLocked(client, server);
}

void ClientBooks::groupAdded(const QString& client, IUnknown* server, IUnknown* group, opc::OPCHANDLE handle,
                             bool onBus) {
    std::lock_guard guard(lock_);
    listed_[{server, handle}] = {group, client};
    if (!group) return;
    Group& record = groups_[group];
    // A group seen before through its calls only (its items) is now this client's.
    record.maker = client;
    record.server = server;
    record.handle = handle;
    record.inServer = true;
    record.onBus = onBus;
    groupsOfServer_[server].insert(group);
}

void ClientBooks::groupRemoved(IUnknown* server, opc::OPCHANDLE handle) {
    std::lock_guard guard(lock_);
    const auto it = listed_.find({server, handle});
    if (it == listed_.end()) return;
    const auto [group, maker] = it->second;
    listed_.erase(it);
    if (!group) {
        dropGroupLocked(maker, server);
        return;
    }
    if (auto g = groups_.find(group); g != groups_.end()) g->second.inServer = false;
    endIfGoneLocked(group);
}

IUnknown* ClientBooks::serverOf(IUnknown* group) {
    std::lock_guard guard(lock_);
    const auto it = groups_.find(group);
    return it == groups_.end() ? nullptr : it->second.server;
}

std::size_t ClientBooks::reserveItems(const QString& client, std::size_t wanted) {
    std::lock_guard guard(lock_);
    Account& account = accounts_[client];
    const std::size_t granted = std::min(wanted, limits_.items - std::min(limits_.items, account.items));
    account.items += granted;
    pruneLocked(client);
    return granted;
}

void ClientBooks::itemsAdded(const QString& client, IUnknown* group, std::size_t reserved,
                             std::size_t added) {
    std::lock_guard guard(lock_);
    added = std::min(added, reserved);
    Account& account = accounts_[client];
    account.items -= std::min(account.items, reserved - added);
    if (added > 0) {
        // Items of a group not made through the bus count while the group is on the bus.
        auto [it, fresh] = groups_.try_emplace(group);
        if (fresh) it->second.onBus = true;
        it->second.items[client] += added;
    }
    pruneLocked(client);
}

void ClientBooks::itemsRemoved(const QString& client, IUnknown* group, std::size_t removed) {
    std::lock_guard guard(lock_);
    const auto it = groups_.find(group);
    if (it == groups_.end()) return;
    // The remover's own items first, then those other clients added to the same group.
    auto giveBack = [&](const QString& owner) {
        auto own = it->second.items.find(owner);
        if (own == it->second.items.end() || removed == 0) return;
        const std::size_t n = std::min(removed, own.value());
        own.value() -= n;
        removed -= n;
        if (auto a = accounts_.find(owner); a != accounts_.end()) a->items -= std::min(a->items, n);
        if (own.value() == 0) it->second.items.erase(own);
        pruneLocked(owner);
    };
    giveBack(client);
    for (const QString& owner : it->second.items.keys()) giveBack(owner);
}

void ClientBooks::objectExported(IUnknown* identity) {
    std::lock_guard guard(lock_);
    if (auto it = groups_.find(identity); it != groups_.end()) it->second.onBus = true;
}

void ClientBooks::objectLeft(IUnknown* identity) {
    std::lock_guard guard(lock_);
    if (auto it = groups_.find(identity); it != groups_.end()) {
        it->second.onBus = false;
        endIfGoneLocked(identity);
    }
    // A server that left the bus has ended, and its list with it.
    if (auto it = groupsOfServer_.find(identity); it != groupsOfServer_.end()) {
        const std::unordered_set<Key> members = it->second;
        for (Key group : members) {
            if (auto g = groups_.find(group); g != groups_.end()) g->second.inServer = false;
            endIfGoneLocked(group);
        }
    }
    for (auto it = listed_.lower_bound({identity, 0}); it != listed_.end() && it->first.first == identity;) {
        if (!it->second.first) dropGroupLocked(it->second.second, identity);
        it = listed_.erase(it);
    }
}

void ClientBooks::endIfGoneLocked(Key group) {
    const auto it = groups_.find(group);
    if (it == groups_.end() || it->second.inServer || it->second.onBus) return;
    const Group record = std::move(it->second);
    groups_.erase(it);
    for (auto i = record.items.cbegin(); i != record.items.cend(); ++i) {
        if (auto a = accounts_.find(i.key()); a != accounts_.end()) a->items -= std::min(a->items, i.value());
        pruneLocked(i.key());
    }
    if (record.server || !record.maker.isEmpty()) {
        if (auto s = groupsOfServer_.find(record.server); s != groupsOfServer_.end()) {
            s->second.erase(group);
            if (s->second.empty()) groupsOfServer_.erase(s);
        }
        // Unless its handle already names a newer group of that server.
        if (auto l = listed_.find({record.server, record.handle});
            l != listed_.end() && l->second.first == group)
            listed_.erase(l);
    }
    if (!record.maker.isEmpty()) dropGroupLocked(record.maker, record.server);
}

void ClientBooks::dropGroupLocked(const QString& client, Key server) {
    const auto a = accounts_.find(client);
    if (a == accounts_.end()) return;
    if (auto g = a->groups.find(server); g != a->groups.end() && --g->second == 0) a->groups.erase(g);
    pruneLocked(client);
}

void ClientBooks::pruneLocked(const QString& client) {
    const auto a = accounts_.find(client);
    if (a != accounts_.end() && a->items == 0 && a->groups.empty()) accounts_.erase(a);
}

std::size_t ClientBooks::itemsOf(const QString& client) {
    std::lock_guard guard(lock_);
    return accounts_.value(client).items;
}

std::size_t ClientBooks::groupsOf(const QString& client, IUnknown* server) {
    std::lock_guard guard(lock_);
    const auto a = accounts_.constFind(client);
    if (a == accounts_.cend()) return 0;
    const auto g = a->groups.find(server);
    return g == a->groups.end() ? 0 : g->second;
}

std::size_t ClientBooks::clientCount() {
    std::lock_guard guard(lock_);
    return accounts_.size();
}

std::size_t ClientBooks::recordCount() {
    std::lock_guard guard(lock_);
    return groups_.size() + listed_.size() + groupsOfServer_.size();
}

}  // namespace ferrow::bus
