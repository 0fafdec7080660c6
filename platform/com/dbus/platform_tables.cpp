#include "platform/com/dbus/platform_tables.h"

#include <mutex>

#include "platform/com/dbus/remote_object.h"

namespace platform::com::dbus {

namespace {
using namespace tables;

class ClassFactoryProxy final : public Facet<IClassFactory> {
  public:
    using Facet::Facet;
    HRESULT CreateInstance(IUnknown* outer, REFIID riid, void** ppv) override {
        return forward<ClassFactory_CreateInstance>(outer, riid, ppv);
    }
    HRESULT LockServer(BOOL lock) override { return forward<ClassFactory_LockServer>(lock); }
};

class EnumStringProxy final : public Facet<IEnumString> {
  public:
    using Facet::Facet;
    HRESULT Next(ULONG celt, LPOLESTR* rgelt, ULONG* fetched) override {
        return forward<EnumString_Next>(celt, rgelt, fetched);
    }
    HRESULT Skip(ULONG celt) override { return forward<EnumString_Skip>(celt); }
    HRESULT Reset() override { return forward<EnumString_Reset>(); }
    HRESULT Clone(IEnumString** ppenum) override { return forward<EnumString_Clone>(ppenum); }
};

class ContainerProxy final : public Facet<IConnectionPointContainer> {
  public:
    using Facet::Facet;
    HRESULT EnumConnectionPoints(IEnumConnectionPoints** ppEnum) override {
        return forward<CPC_EnumConnectionPoints>(ppEnum);
    }
    HRESULT FindConnectionPoint(REFIID riid, IConnectionPoint** ppCP) override {
        return forward<CPC_FindConnectionPoint>(riid, ppCP);
    }
};

class ConnectionPointProxy final : public Facet<IConnectionPoint> {
  public:
    using Facet::Facet;
    HRESULT GetConnectionInterface(IID* pIID) override { return forward<CP_GetConnectionInterface>(pIID); }
    HRESULT GetConnectionPointContainer(IConnectionPointContainer** ppCPC) override {
        return forward<CP_GetConnectionPointContainer>(ppCPC);
    }
    HRESULT Advise(IUnknown* sink, DWORD* cookie) override { return forward<CP_Advise>(sink, cookie); }
    HRESULT Unadvise(DWORD cookie) override { return forward<CP_Unadvise>(cookie); }
    HRESULT EnumConnections(IEnumConnections** ppEnum) override {
        return forward<CP_EnumConnections>(ppEnum);
    }
};

class EnumConnectionsProxy final : public Facet<IEnumConnections> {
  public:
    using Facet::Facet;
    HRESULT Next(ULONG n, CONNECTDATA* rgcd, ULONG* fetched) override {
        return forward<EnumConnections_Next>(n, rgcd, fetched);
    }
    HRESULT Skip(ULONG n) override { return forward<EnumConnections_Skip>(n); }
    HRESULT Reset() override { return forward<EnumConnections_Reset>(); }
    HRESULT Clone(IEnumConnections** ppEnum) override { return forward<EnumConnections_Clone>(ppEnum); }
};

class EnumConnectionPointsProxy final : public Facet<IEnumConnectionPoints> {
  public:
    using Facet::Facet;
    HRESULT Next(ULONG n, IConnectionPoint** points, ULONG* fetched) override {
        return forward<EnumConnectionPoints_Next>(n, points, fetched);
    }
    HRESULT Skip(ULONG n) override { return forward<EnumConnectionPoints_Skip>(n); }
    HRESULT Reset() override { return forward<EnumConnectionPoints_Reset>(); }
    HRESULT Clone(IEnumConnectionPoints** ppEnum) override {
        return forward<EnumConnectionPoints_Clone>(ppEnum);
    }
};

class DataObjectProxy final : public Facet<IDataObject> {
  public:
    using Facet::Facet;
    HRESULT GetData(FORMATETC* format, STGMEDIUM* medium) override {
        return forward<DataObject_GetData>(format, medium);
    }
    HRESULT GetDataHere(FORMATETC* format, STGMEDIUM* medium) override {
        return forward<DataObject_GetDataHere>(format, medium);
    }
    HRESULT QueryGetData(FORMATETC* format) override { return forward<DataObject_QueryGetData>(format); }
    HRESULT GetCanonicalFormatEtc(FORMATETC* in, FORMATETC* out) override {
        return forward<DataObject_GetCanonicalFormatEtc>(in, out);
    }
    HRESULT SetData(FORMATETC* format, STGMEDIUM* medium, BOOL release) override {
        const HRESULT result = forward<DataObject_SetData>(format, medium, release);
        // The medium was copied onto the wire; ownership passed only in the sense of this promise.
        if (SUCCEEDED(result) && release && medium) ReleaseStgMedium(medium);
        return result;
    }
    HRESULT EnumFormatEtc(DWORD direction, IEnumFORMATETC** ppenum) override {
        return forward<DataObject_EnumFormatEtc>(direction, ppenum);
    }
    HRESULT DAdvise(FORMATETC* format, DWORD advf, IAdviseSink* sink, DWORD* connection) override {
        return forward<DataObject_DAdvise>(format, advf, sink, connection);
    }
    HRESULT DUnadvise(DWORD connection) override { return forward<DataObject_DUnadvise>(connection); }
    HRESULT EnumDAdvise(IEnumSTATDATA** ppenum) override { return forward<DataObject_EnumDAdvise>(ppenum); }
};

// The remote form of IAdviseSink is asynchronous: only OnDataChange travels, without a reply.
class AdviseSinkProxy final : public Facet<IAdviseSink> {
  public:
    using Facet::Facet;
    void OnDataChange(FORMATETC* format, STGMEDIUM* medium) override {
        forward<AdviseSink_OnDataChange>(format, medium);
    }
    void OnViewChange(DWORD, LONG) override {}
    void OnRename(IUnknown*) override {}
    void OnSave() override {}
    void OnClose() override {}
};
}  // namespace

void registerPlatformTables() {
    static std::once_flag once;
    std::call_once(once, [] {
        registerWireTypes();
        static const InterfaceTable classFactory =
            makeTable<IClassFactory, ClassFactoryProxy, ClassFactory_CreateInstance, ClassFactory_LockServer>(
                "IClassFactory");
        static const InterfaceTable enumString =
            makeTable<IEnumString, EnumStringProxy, EnumString_Next, EnumString_Skip, EnumString_Reset,
                      EnumString_Clone>("IEnumString");
        static const InterfaceTable container =
            makeTable<IConnectionPointContainer, ContainerProxy, CPC_EnumConnectionPoints,
                      CPC_FindConnectionPoint>("IConnectionPointContainer");
        static const InterfaceTable point =
            makeTable<IConnectionPoint, ConnectionPointProxy, CP_GetConnectionInterface,
                      CP_GetConnectionPointContainer, CP_Advise, CP_Unadvise, CP_EnumConnections>(
                "IConnectionPoint");
        static const InterfaceTable enumConnections =
            makeTable<IEnumConnections, EnumConnectionsProxy, EnumConnections_Next, EnumConnections_Skip,
                      EnumConnections_Reset, EnumConnections_Clone>("IEnumConnections");
        static const InterfaceTable enumPoints =
            makeTable<IEnumConnectionPoints, EnumConnectionPointsProxy, EnumConnectionPoints_Next,
                      EnumConnectionPoints_Skip, EnumConnectionPoints_Reset, EnumConnectionPoints_Clone>(
                "IEnumConnectionPoints");
        static const InterfaceTable dataObject =
            makeTable<IDataObject, DataObjectProxy, DataObject_GetData, DataObject_GetDataHere,
                      DataObject_QueryGetData, DataObject_GetCanonicalFormatEtc, DataObject_SetData,
                      DataObject_EnumFormatEtc, DataObject_DAdvise, DataObject_DUnadvise,
                      DataObject_EnumDAdvise>("IDataObject");
        static const InterfaceTable adviseSink =
            makeTable<IAdviseSink, AdviseSinkProxy, AdviseSink_OnDataChange>("IAdviseSink");
        for (const InterfaceTable* t : {&classFactory, &enumString, &container, &point, &enumConnections,
                                        &enumPoints, &dataObject, &adviseSink})
            registerTable(t);
    });
}

}  // namespace platform::com::dbus
