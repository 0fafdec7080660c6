#pragma once

#include <vector>

#include "ferrow/opc/opc_interfaces.h"

namespace ferrow::opc {

// One queued asynchronous read, write or refresh of a group, owned by the group's request queue until a
// request thread takes it, then by that thread until its completion has been sent.
struct AsyncRequest {
    enum class Kind { Read1 = 0, Write1 = 1, Refresh1 = 2, Read2 = 3, Write2 = 4, Refresh2 = 5 };

    AsyncRequest() = default;
    AsyncRequest(const AsyncRequest&) = delete;
    AsyncRequest& operator=(const AsyncRequest&) = delete;
    ~AsyncRequest() {
        for (VARIANT& value : values) platform::com::VariantClear(&value);
    }

    bool isVersion1() const { return kind == Kind::Read1 || kind == Kind::Write1 || kind == Kind::Refresh1; }
    bool isRead() const { return kind == Kind::Read1 || kind == Kind::Read2; }
    bool isWrite() const { return kind == Kind::Write1 || kind == Kind::Write2; }
    DWORD count() const { return static_cast<DWORD>(handles.size()); }

    // Version 1.0: the stream format of the connection (DATA, DATATIME or WRITECOMPLETE); 0 for 2.0.
    platform::com::UINT format = 0;
    OPCDATASOURCE source = OPC_DS_DEVICE;
    std::vector<OPCHANDLE> handles;  // the server item handles, as the client gave them
    std::vector<VARIANT> values;     // writes: copies of the client's values
    std::vector<HRESULT> errors;     // one per item
    // Version 1.0: the ID the server gave out; 2.0: the client's own transaction ID.
    DWORD transactionId = 0;
    Kind kind = Kind::Read1;
};

// The clipboard format numbers of the three version 1.0 streams, registered on first use.
struct StreamFormats {
    platform::com::UINT data;
    platform::com::UINT dataTime;
    platform::com::UINT writeComplete;
};
const StreamFormats& streamFormats();

}  // namespace ferrow::opc
