#pragma once

#include <cstdint>

#include "platform/com/bstr.h"
#include "platform/com/guid.h"
#include "platform/com/hresult.h"

namespace platform::com {

using ULONG = std::uint32_t;
using LONG = std::int32_t;
using DWORD = std::uint32_t;
using WORD = std::uint16_t;
using BOOL = std::int32_t;
using LCID = std::uint32_t;
using LPWSTR = OLECHAR*;
using LPCWSTR = const OLECHAR*;
using LPOLESTR = OLECHAR*;

// Interfaces are abstract classes whose virtual functions are the published slots in their order; none
// has a virtual destructor (it would add slots). Objects are destroyed through their own class.
class IUnknown {
  public:
    static constexpr const IID& kIid = IID_IUnknown;
    virtual HRESULT QueryInterface(REFIID riid, void** ppv) = 0;
    virtual ULONG AddRef() = 0;
    virtual ULONG Release() = 0;

  protected:
    ~IUnknown() = default;
};

class IClassFactory : public IUnknown {
  public:
    static constexpr const IID& kIid = IID_IClassFactory;
    virtual HRESULT CreateInstance(IUnknown* pUnkOuter, REFIID riid, void** ppvObject) = 0;
    virtual HRESULT LockServer(BOOL fLock) = 0;

  protected:
    ~IClassFactory() = default;
};

}  // namespace platform::com
