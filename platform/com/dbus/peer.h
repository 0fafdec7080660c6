#pragma once

#include <QDBusObjectPath>

#include "platform/com/unknown.h"

namespace platform::com::dbus {

// The other end of one call, as marshaling sees it: interface pointers passed to it are exported on our
// connection, paths it sends are its objects, reached through proxies.
class Peer {
  public:
    // The path of `object` on our connection with one more reference owned by the peer; "/" for null.
    virtual QDBusObjectPath exportObject(IUnknown* object) = 0;
    // A proxy of the peer's object at `path` as interface `iid`, with one reference for the caller. The
    // peer's reference that came with the path is taken over. `known`: the peer handed the path out as
    // that interface, so it need not be asked. "/" (no object) is RPC_X_BAD_STUB_DATA: where null may
    // travel, the codec takes "/" as null before asking.
    virtual HRESULT importObject(const QDBusObjectPath& path, REFIID iid, bool known, void** ppv) = 0;
    // `object` handed back to the peer as its own: the path of the peer's object it is a proxy of, "/"
    // for anything else (never exported in its place).
    virtual QDBusObjectPath pathBack(IUnknown* object) = 0;
    // Our own object at `path` that the peer holds, handed back by it, with one reference for the
    // caller; null when the peer holds nothing there.
    virtual IUnknown* ownObject(const QDBusObjectPath& path) = 0;

  protected:
    ~Peer() = default;
};

}  // namespace platform::com::dbus
