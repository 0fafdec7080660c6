#pragma once

#include <span>

#include "ferrow/opc/opc_interfaces.h"

namespace ferrow::opc {

// The version 1.0 data transfer streams, written field by field in their 32-bit little-endian layout
// into a movable, shareable global memory block whose size is a whole number of 4096-byte steps. Pointer
// fields of the copied VARIANTs and SAFEARRAY descriptors are written as 0: they mean nothing to the
// receiver.

enum class StreamFormat { Data, DataTime };

// One item of a DATA or DATATIME stream. The value is written as it is (the caller has converted it);
// `error` is the result of that conversion, which the stream has no field for but its header's status.
struct StreamItem {
    OPCHANDLE clientHandle = 0;
    WORD quality = 0;
    FILETIME timestamp{};
    const VARIANT* value = nullptr;
    HRESULT error = platform::com::S_OK;
};

inline constexpr platform::com::SIZE_T kStreamGrowth = 4096;
inline constexpr DWORD kGroupHeaderSize = 20;
inline constexpr DWORD kDataItemHeaderSize = 12;
inline constexpr DWORD kDataTimeItemHeaderSize = 20;
inline constexpr DWORD kStreamVariantSize = 16;
inline constexpr DWORD kStreamSafeArraySize = 24;
inline constexpr DWORD kWriteCompleteHeaderSize = 16;
inline constexpr DWORD kWriteCompleteItemSize = 8;

// A DATA or DATATIME stream: group header (dwSize, item count, client group handle, transaction ID,
// hrStatus: S_FALSE when any item's error is not S_OK), the item headers, then the value area. S_OK with
// `*block` the new block, or E_OUTOFMEMORY with `*block` null.
HRESULT WriteDataStream(StreamFormat format, OPCHANDLE clientGroup, DWORD transactionId,
                        std::span<const StreamItem> items, platform::com::HGLOBAL* block);

// A WRITECOMPLETE stream: item count, client group handle, transaction ID, hrStatus (S_FALSE when any
// error is not S_OK), then client handle and error per item. `clientHandles` and `errors` are
// equally long. S_OK or E_OUTOFMEMORY as above.
HRESULT WriteWriteCompleteStream(OPCHANDLE clientGroup, DWORD transactionId,
                                 std::span<const OPCHANDLE> clientHandles, std::span<const HRESULT> errors,
                                 platform::com::HGLOBAL* block);

// Where stream blocks come from: GlobalAlloc(GMEM_MOVEABLE | GMEM_SHARE) unless a test installs a source
// that fails, so that the paths after a failed allocation can be proven. Each stream takes one block of
// whole kStreamGrowth steps, sized for everything it holds.
class StreamMemory {
  public:
    virtual ~StreamMemory() = default;
    virtual platform::com::HGLOBAL Alloc(platform::com::SIZE_T bytes) = 0;
};
// Installs `memory` (null: global memory) for every stream written from now on and returns the one it
// replaces.
StreamMemory* setStreamMemory(StreamMemory* memory);

}  // namespace ferrow::opc
