#pragma once

#include <cstdint>

namespace platform::com {

// Result codes with the published numbers, so that values handed to OPC clients mean what they expect.
using HRESULT = std::int32_t;

constexpr HRESULT hr(std::uint32_t code) { return static_cast<HRESULT>(code); }
constexpr bool SUCCEEDED(HRESULT result) { return result >= 0; }
constexpr bool FAILED(HRESULT result) { return result < 0; }

inline constexpr HRESULT S_OK = hr(0x00000000);
inline constexpr HRESULT S_FALSE = hr(0x00000001);
inline constexpr HRESULT E_NOTIMPL = hr(0x80004001);
inline constexpr HRESULT E_NOINTERFACE = hr(0x80004002);
inline constexpr HRESULT E_POINTER = hr(0x80004003);
inline constexpr HRESULT E_ABORT = hr(0x80004004);
inline constexpr HRESULT E_FAIL = hr(0x80004005);
inline constexpr HRESULT E_UNEXPECTED = hr(0x8000FFFF);
inline constexpr HRESULT E_ACCESSDENIED = hr(0x80070005);
inline constexpr HRESULT E_HANDLE = hr(0x80070006);
inline constexpr HRESULT E_OUTOFMEMORY = hr(0x8007000E);
inline constexpr HRESULT E_INVALIDARG = hr(0x80070057);
inline constexpr HRESULT DISP_E_PARAMNOTFOUND = hr(0x80020004);
inline constexpr HRESULT DISP_E_TYPEMISMATCH = hr(0x80020005);
inline constexpr HRESULT DISP_E_BADVARTYPE = hr(0x80020008);
inline constexpr HRESULT DISP_E_EXCEPTION = hr(0x80020009);
inline constexpr HRESULT DISP_E_OVERFLOW = hr(0x8002000A);
inline constexpr HRESULT DISP_E_BADINDEX = hr(0x8002000B);
inline constexpr HRESULT DISP_E_ARRAYISLOCKED = hr(0x8002000D);
inline constexpr HRESULT DISP_E_DIVBYZERO = hr(0x80020012);

inline constexpr HRESULT CLASS_E_NOAGGREGATION = hr(0x80040110);
inline constexpr HRESULT CLASS_E_CLASSNOTAVAILABLE = hr(0x80040111);
inline constexpr HRESULT CLASS_E_NOTLICENSED = hr(0x80040112);
inline constexpr HRESULT CONNECT_E_NOCONNECTION = hr(0x80040200);
inline constexpr HRESULT CONNECT_E_ADVISELIMIT = hr(0x80040201);
inline constexpr HRESULT CONNECT_E_CANNOTCONNECT = hr(0x80040202);
inline constexpr HRESULT CONNECT_E_OVERRIDDEN = hr(0x80040203);
inline constexpr HRESULT OLE_E_NOCONNECTION = hr(0x80040004);
inline constexpr HRESULT DV_E_FORMATETC = hr(0x80040064);
inline constexpr HRESULT DV_E_DVTARGETDEVICE = hr(0x80040065);
inline constexpr HRESULT DV_E_STGMEDIUM = hr(0x80040066);
inline constexpr HRESULT DV_E_STATDATA = hr(0x80040067);
inline constexpr HRESULT DV_E_LINDEX = hr(0x80040068);
inline constexpr HRESULT DV_E_TYMED = hr(0x80040069);
inline constexpr HRESULT DV_E_CLIPFORMAT = hr(0x8004006A);
inline constexpr HRESULT DV_E_DVASPECT = hr(0x8004006B);
inline constexpr HRESULT RPC_E_DISCONNECTED = hr(0x80010108);
inline constexpr HRESULT CO_E_NOTINITIALIZED = hr(0x800401F0);
inline constexpr HRESULT CO_E_OBJNOTCONNECTED = hr(0x800401FD);
inline constexpr HRESULT REGDB_E_CLASSNOTREG = hr(0x80040154);

// The OPC Data Access 1.0/2.0 codes (facility ITF).
inline constexpr HRESULT OPC_E_INVALIDHANDLE = hr(0xC0040001);
inline constexpr HRESULT OPC_E_BADTYPE = hr(0xC0040004);
inline constexpr HRESULT OPC_E_PUBLIC = hr(0xC0040005);
inline constexpr HRESULT OPC_E_BADRIGHTS = hr(0xC0040006);
inline constexpr HRESULT OPC_E_UNKNOWNITEMID = hr(0xC0040007);
inline constexpr HRESULT OPC_E_INVALIDITEMID = hr(0xC0040008);
inline constexpr HRESULT OPC_E_INVALIDFILTER = hr(0xC0040009);
inline constexpr HRESULT OPC_E_UNKNOWNPATH = hr(0xC004000A);
inline constexpr HRESULT OPC_E_RANGE = hr(0xC004000B);
inline constexpr HRESULT OPC_E_DUPLICATENAME = hr(0xC004000C);
inline constexpr HRESULT OPC_S_UNSUPPORTEDRATE = hr(0x0004000D);
inline constexpr HRESULT OPC_S_CLAMP = hr(0x0004000E);
inline constexpr HRESULT OPC_S_INUSE = hr(0x0004000F);
inline constexpr HRESULT OPC_E_INVALIDCONFIGFILE = hr(0xC0040010);
inline constexpr HRESULT OPC_E_NOTFOUND = hr(0xC0040011);
inline constexpr HRESULT OPC_E_INVALID_PID = hr(0xC0040203);

}  // namespace platform::com
