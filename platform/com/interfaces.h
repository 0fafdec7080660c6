#pragma once

#include "platform/com/unknown.h"

namespace platform::com {

// The enumerator and connection-point interfaces of the platform, in their published slot order.

class IEnumString : public IUnknown {
  public:
    static constexpr const IID& kIid = IID_IEnumString;
    // Strings handed out are task-allocated; the caller frees each.
    virtual HRESULT Next(ULONG celt, LPOLESTR* rgelt, ULONG* pceltFetched) = 0;
    virtual HRESULT Skip(ULONG celt) = 0;
    virtual HRESULT Reset() = 0;
    virtual HRESULT Clone(IEnumString** ppenum) = 0;

  protected:
    ~IEnumString() = default;
};

class IConnectionPoint;

// One advised sink: the caller of EnumConnections releases pUnk.
struct CONNECTDATA {
    IUnknown* pUnk;
    DWORD dwCookie;
};

class IEnumConnections : public IUnknown {
  public:
    static constexpr const IID& kIid = IID_IEnumConnections;
    virtual HRESULT Next(ULONG cConnections, CONNECTDATA* rgcd, ULONG* pcFetched) = 0;
    virtual HRESULT Skip(ULONG cConnections) = 0;
    virtual HRESULT Reset() = 0;
    virtual HRESULT Clone(IEnumConnections** ppEnum) = 0;

  protected:
    ~IEnumConnections() = default;
};

class IEnumConnectionPoints : public IUnknown {
  public:
    static constexpr const IID& kIid = IID_IEnumConnectionPoints;
    virtual HRESULT Next(ULONG cConnections, IConnectionPoint** ppCP, ULONG* pcFetched) = 0;
    virtual HRESULT Skip(ULONG cConnections) = 0;
    virtual HRESULT Reset() = 0;
    virtual HRESULT Clone(IEnumConnectionPoints** ppEnum) = 0;

  protected:
    ~IEnumConnectionPoints() = default;
};

class IConnectionPointContainer : public IUnknown {
  public:
    static constexpr const IID& kIid = IID_IConnectionPointContainer;
    virtual HRESULT EnumConnectionPoints(IEnumConnectionPoints** ppEnum) = 0;
    virtual HRESULT FindConnectionPoint(REFIID riid, IConnectionPoint** ppCP) = 0;

  protected:
    ~IConnectionPointContainer() = default;
};

class IConnectionPoint : public IUnknown {
  public:
    static constexpr const IID& kIid = IID_IConnectionPoint;
    virtual HRESULT GetConnectionInterface(IID* pIID) = 0;
    virtual HRESULT GetConnectionPointContainer(IConnectionPointContainer** ppCPC) = 0;
    virtual HRESULT Advise(IUnknown* pUnkSink, DWORD* pdwCookie) = 0;
    virtual HRESULT Unadvise(DWORD dwCookie) = 0;
    virtual HRESULT EnumConnections(IEnumConnections** ppEnum) = 0;

  protected:
    ~IConnectionPoint() = default;
};

}  // namespace platform::com
