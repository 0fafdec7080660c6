#pragma once

#include <cstdint>

#include "platform/com/unknown.h"

namespace platform::com {

// The uniform data transfer of the platform: global memory blocks, clipboard formats, FORMATETC and
// STGMEDIUM, IDataObject and IAdviseSink.

// A global memory block: an opaque handle, never a pointer into the data. Movable blocks are reached
// through GlobalLock; their data may move while they are unlocked.
struct GlobalBlock;
using HGLOBAL = GlobalBlock*;
using UINT = std::uint32_t;
using SIZE_T = std::size_t;
using CLIPFORMAT = WORD;

inline constexpr UINT GMEM_FIXED = 0x0000;
inline constexpr UINT GMEM_MOVEABLE = 0x0002;
inline constexpr UINT GMEM_ZEROINIT = 0x0040;
inline constexpr UINT GMEM_SHARE = 0x2000;
inline constexpr UINT GMEM_DDESHARE = GMEM_SHARE;
inline constexpr UINT GHND = GMEM_MOVEABLE | GMEM_ZEROINIT;

// Null when memory runs out.
HGLOBAL GlobalAlloc(UINT flags, SIZE_T bytes);
// The block with its new size (the same handle for a movable block), or null with the block unchanged.
// A locked block does not move: it shrinks in place, and growing it gives null.
HGLOBAL GlobalReAlloc(HGLOBAL block, SIZE_T bytes, UINT flags);
// The block's data, its lock count one higher; null for a null handle.
void* GlobalLock(HGLOBAL block);
// TRUE while the block stays locked, FALSE once its lock count is 0.
BOOL GlobalUnlock(HGLOBAL block);
SIZE_T GlobalSize(HGLOBAL block);
// Null on success, the handle when it cannot be freed (null handle: null).
HGLOBAL GlobalFree(HGLOBAL block);
// Blocks allocated and not yet freed in this process (for leak checks).
long globalBlockCount();

// Registered clipboard formats: the same name (compared ignoring ASCII case) always gives the same
// number, from 0xC000 on; 0 for a null or empty name. Thread-safe.
UINT RegisterClipboardFormatA(const char* name);
// The name of a registered format copied into `buffer` (at most `size` - 1 characters and a
// terminator); the number of characters copied, 0 for a format that is not registered.
int GetClipboardFormatNameA(UINT format, char* buffer, int size);

inline constexpr DWORD DVASPECT_CONTENT = 1;
inline constexpr DWORD DVASPECT_THUMBNAIL = 2;
inline constexpr DWORD DVASPECT_ICON = 4;
inline constexpr DWORD DVASPECT_DOCPRINT = 8;

inline constexpr DWORD TYMED_NULL = 0;
inline constexpr DWORD TYMED_HGLOBAL = 1;
inline constexpr DWORD TYMED_FILE = 2;
inline constexpr DWORD TYMED_ISTREAM = 4;
inline constexpr DWORD TYMED_ISTORAGE = 8;

inline constexpr DWORD ADVF_NODATA = 1;
inline constexpr DWORD ADVF_PRIMEFIRST = 2;
inline constexpr DWORD ADVF_ONLYONCE = 4;

struct DVTARGETDEVICE;

struct FORMATETC {
    CLIPFORMAT cfFormat;
    DVTARGETDEVICE* ptd;
    DWORD dwAspect;
    LONG lindex;
    DWORD tymed;
};

// Only the global-memory medium is used here.
struct STGMEDIUM {
    DWORD tymed;
    HGLOBAL hGlobal;
    IUnknown* pUnkForRelease;
};

// Frees the medium's data (or releases pUnkForRelease instead) and leaves it TYMED_NULL.
void ReleaseStgMedium(STGMEDIUM* medium);

class IEnumFORMATETC;
class IEnumSTATDATA;

class IAdviseSink : public IUnknown {
  public:
    static constexpr const IID& kIid = IID_IAdviseSink;
    virtual void OnDataChange(FORMATETC* pFormatetc, STGMEDIUM* pStgmed) = 0;
    virtual void OnViewChange(DWORD dwAspect, LONG lindex) = 0;
    virtual void OnRename(IUnknown* pmk) = 0;
    virtual void OnSave() = 0;
    virtual void OnClose() = 0;

  protected:
    ~IAdviseSink() = default;
};

class IDataObject : public IUnknown {
  public:
    static constexpr const IID& kIid = IID_IDataObject;
    virtual HRESULT GetData(FORMATETC* pformatetcIn, STGMEDIUM* pmedium) = 0;
    virtual HRESULT GetDataHere(FORMATETC* pformatetc, STGMEDIUM* pmedium) = 0;
    virtual HRESULT QueryGetData(FORMATETC* pformatetc) = 0;
    virtual HRESULT GetCanonicalFormatEtc(FORMATETC* pformatectIn, FORMATETC* pformatetcOut) = 0;
    virtual HRESULT SetData(FORMATETC* pformatetc, STGMEDIUM* pmedium, BOOL fRelease) = 0;
    virtual HRESULT EnumFormatEtc(DWORD dwDirection, IEnumFORMATETC** ppenumFormatEtc) = 0;
    virtual HRESULT DAdvise(FORMATETC* pformatetc, DWORD advf, IAdviseSink* pAdvSink,
                            DWORD* pdwConnection) = 0;
    virtual HRESULT DUnadvise(DWORD dwConnection) = 0;
    virtual HRESULT EnumDAdvise(IEnumSTATDATA** ppenumAdvise) = 0;

  protected:
    ~IDataObject() = default;
};

}  // namespace platform::com
