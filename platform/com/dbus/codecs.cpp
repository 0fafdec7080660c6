#include "platform/com/dbus/codecs.h"

#include <QDBusMetaType>
#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cstring>

#include "platform/com/safearray.h"

namespace platform::com::dbus {

HRESULT GuidCodec::toWire(const GUID& v, QString& w, Peer&) {
    w = QString::fromStdString(formatGuid(v));
    return S_OK;
}

HRESULT GuidCodec::fromWire(const QString& w, GUID& v, Peer&) {
    const std::optional<GUID> parsed = parseGuid(w.toStdString());
    if (!parsed) return E_INVALIDARG;
    v = *parsed;
    return S_OK;
}

namespace {

// The D-Bus type of one value of a scalar VARTYPE; empty for one that cannot travel.
QString scalarSignature(VARTYPE vt) {
    switch (vt) {
        case VT_EMPTY:
        case VT_NULL:
        case VT_UI1:
            return QStringLiteral("y");
        case VT_I1:
        case VT_I2:
            return QStringLiteral("n");
        case VT_UI2:
            return QStringLiteral("q");
        case VT_I4:
        case VT_INT:
        case VT_ERROR:
            return QStringLiteral("i");
        case VT_UI4:
        case VT_UINT:
            return QStringLiteral("u");
        case VT_I8:
        case VT_CY:
            return QStringLiteral("x");
        case VT_UI8:
            return QStringLiteral("t");
        case VT_R4:
        case VT_R8:
        case VT_DATE:
            return QStringLiteral("d");
        case VT_BOOL:
            return QStringLiteral("b");
        case VT_BSTR:
            return QStringLiteral("s");
        default:
            return {};
    }
}

QString valueSignature(VARTYPE vt) {
    if (vt & VT_ARRAY) {
        const VARTYPE element = vt & VT_TYPEMASK;
        if ((vt & ~(VT_ARRAY | VT_TYPEMASK)) || element == VT_EMPTY || element == VT_NULL) return {};
        const QString inner = scalarSignature(element);
        return inner.isEmpty() ? QString() : QStringLiteral("a") + inner;
    }
    return scalarSignature(vt);
}

QVariant scalarToWire(const VARIANT& v) {
    switch (v.vt) {
        case VT_EMPTY:
        case VT_NULL:
            return QVariant::fromValue(uchar{0});
        case VT_UI1:
            return QVariant::fromValue(uchar{v.bVal});
        case VT_I1:
            return QVariant::fromValue(short{v.cVal});
        case VT_I2:
            return QVariant::fromValue(short{v.iVal});
        case VT_UI2:
            return QVariant::fromValue(ushort{v.uiVal});
        case VT_I4:
            return QVariant::fromValue(int{v.lVal});
        case VT_INT:
            return QVariant::fromValue(int{v.intVal});
        case VT_ERROR:
            return QVariant::fromValue(int{v.scode});
        case VT_UI4:
            return QVariant::fromValue(uint{v.ulVal});
        case VT_UINT:
            return QVariant::fromValue(uint{v.uintVal});
        case VT_I8:
        case VT_CY:
            return QVariant::fromValue(qlonglong{v.llVal});
        case VT_UI8:
            return QVariant::fromValue(qulonglong{v.ullVal});
        case VT_R4:
            return QVariant::fromValue(double{v.fltVal});
        case VT_R8:
            return QVariant::fromValue(v.dblVal);
        case VT_DATE:
            return QVariant::fromValue(double{v.date});
        case VT_BOOL:
            return QVariant::fromValue(v.boolVal != 0);
        case VT_BSTR:
            return QVariant::fromValue(QString::fromUtf16(v.bstrVal ? v.bstrVal : u"",
                                                          static_cast<qsizetype>(SysStringLen(v.bstrVal))));
        default:
            return {};
    }
}

template <class List, class Element, class Convert>
QVariant listOf(const void* data, std::uint32_t count, Convert convert) {
    List list;
    list.reserve(count);
    const auto* elements = static_cast<const Element*>(data);
    for (std::uint32_t i = 0; i < count; ++i) list.append(convert(elements[i]));
    return QVariant::fromValue(list);
}

QVariant arrayToWire(SAFEARRAY* array, VARTYPE element) {
    void* data = nullptr;
    if (FAILED(SafeArrayAccessData(array, &data))) return {};
    const std::uint32_t n = array->rgsabound[0].cElements;
    QVariant out;
    switch (element) {
        case VT_UI1:
            out = QVariant::fromValue(QByteArray(static_cast<const char*>(data), n));
            break;
        case VT_I1:
            out = listOf<QList<short>, std::int8_t>(data, n, [](std::int8_t e) { return short{e}; });
            break;
        case VT_I2:
            out = listOf<QList<short>, std::int16_t>(data, n, [](std::int16_t e) { return short{e}; });
            break;
        case VT_UI2:
            out = listOf<QList<ushort>, std::uint16_t>(data, n, [](std::uint16_t e) { return ushort{e}; });
            break;
        case VT_I4:
        case VT_INT:
        case VT_ERROR:
            out = listOf<QList<int>, std::int32_t>(data, n, [](std::int32_t e) { return int{e}; });
            break;
        case VT_UI4:
        case VT_UINT:
            out = listOf<QList<uint>, std::uint32_t>(data, n, [](std::uint32_t e) { return uint{e}; });
            break;
        case VT_I8:
        case VT_CY:
            out =
                listOf<QList<qlonglong>, std::int64_t>(data, n, [](std::int64_t e) { return qlonglong{e}; });
            break;
        case VT_UI8:
            out = listOf<QList<qulonglong>, std::uint64_t>(data, n,
                                                           [](std::uint64_t e) { return qulonglong{e}; });
            break;
        case VT_R4:
            out = listOf<QList<double>, float>(data, n, [](float e) { return double{e}; });
            break;
        case VT_R8:
        case VT_DATE:
            out = listOf<QList<double>, double>(data, n, [](double e) { return e; });
            break;
        case VT_BOOL:
            out = listOf<QList<bool>, std::int16_t>(data, n, [](std::int16_t e) { return e != 0; });
            break;
        case VT_BSTR:
            out = listOf<QStringList, BSTR>(data, n, [](BSTR e) {
                return QString::fromUtf16(e ? e : u"", static_cast<qsizetype>(SysStringLen(e)));
            });
            break;
        default:
            break;
    }
    SafeArrayUnaccessData(array);
    return out;
}

// The value inside a (qv) in its own D-Bus signature.
QString signatureOfValue(const QVariant& value) {
    if (value.metaType() == QMetaType::fromType<QDBusArgument>())
        return value.value<QDBusArgument>().currentSignature();
    return QString::fromLatin1(QDBusMetaType::typeToSignature(value.metaType()));
}

template <class T>
T wireValue(const QVariant& value) {
    return qdbus_cast<T>(value);
}

// The wire carries VT_I1 as a 16-bit and VT_R4 as a 64-bit number; what does not fit is an overflow,
// never a wrapped byte or a float out of range.
bool fitsSignedByte(short w) { return w >= -128 && w <= 127; }
bool fitsFloat(double w) { return !std::isfinite(w) || std::fabs(w) <= FLT_MAX; }

HRESULT scalarFromWire(VARTYPE vt, const QVariant& value, VARIANT& v) {
    switch (vt) {
        case VT_EMPTY:
        case VT_NULL:
            break;
        case VT_UI1:
            v.bVal = wireValue<uchar>(value);
            break;
        case VT_I1:
            if (!fitsSignedByte(wireValue<short>(value))) return DISP_E_OVERFLOW;
            v.cVal = static_cast<std::int8_t>(wireValue<short>(value));
            break;
        case VT_I2:
            v.iVal = wireValue<short>(value);
            break;
        case VT_UI2:
            v.uiVal = wireValue<ushort>(value);
            break;
        case VT_I4:
            v.lVal = wireValue<int>(value);
            break;
        case VT_INT:
            v.intVal = wireValue<int>(value);
            break;
        case VT_ERROR:
            v.scode = wireValue<int>(value);
            break;
        case VT_UI4:
            v.ulVal = wireValue<uint>(value);
            break;
        case VT_UINT:
            v.uintVal = wireValue<uint>(value);
            break;
        case VT_I8:
        case VT_CY:
            v.llVal = wireValue<qlonglong>(value);
            break;
        case VT_UI8:
            v.ullVal = wireValue<qulonglong>(value);
            break;
        case VT_R4:
            if (!fitsFloat(wireValue<double>(value))) return DISP_E_OVERFLOW;
            v.fltVal = static_cast<float>(wireValue<double>(value));
            break;
        case VT_R8:
            v.dblVal = wireValue<double>(value);
            break;
        case VT_DATE:
            v.date = wireValue<double>(value);
            break;
        case VT_BOOL:
            v.boolVal = wireValue<bool>(value) ? VARIANT_TRUE : VARIANT_FALSE;
            break;
        case VT_BSTR: {
            const QString text = wireValue<QString>(value);
            v.bstrVal = SysAllocStringLen(reinterpret_cast<const OLECHAR*>(text.utf16()),
                                          static_cast<std::uint32_t>(text.size()));
            if (!v.bstrVal) return E_OUTOFMEMORY;
            break;
        }
        default:
            return DISP_E_BADVARTYPE;
    }
    v.vt = vt;
    return S_OK;
}

template <class Element, class List, class Convert>
HRESULT fillArray(VARTYPE element, const List& list, SAFEARRAY** out, Convert convert) {
    SAFEARRAY* array = SafeArrayCreateVector(element, 0, static_cast<std::uint32_t>(list.size()));
    if (!array) return E_OUTOFMEMORY;
    void* data = nullptr;
    SafeArrayAccessData(array, &data);
    auto* elements = static_cast<Element*>(data);
    bool ok = true;
    for (qsizetype i = 0; i < list.size(); ++i) ok = convert(list[i], &elements[i]) && ok;
    SafeArrayUnaccessData(array);
    if (!ok) {
        SafeArrayDestroy(array);
        return E_OUTOFMEMORY;
    }
    *out = array;
    return S_OK;
}

template <class Element, class Wire>
auto cast() {
    return [](const Wire& w, Element* e) {
        *e = static_cast<Element>(w);
        return true;
    };
}

HRESULT arrayFromWire(VARTYPE element, const QVariant& value, SAFEARRAY** out) {
    switch (element) {
        case VT_UI1: {
            const QByteArray bytes = wireValue<QByteArray>(value);
            return fillArray<std::uint8_t>(element, bytes, out, cast<std::uint8_t, char>());
        }
        case VT_I1: {
            const auto list = wireValue<QList<short>>(value);
            if (!std::all_of(list.begin(), list.end(), fitsSignedByte)) return DISP_E_OVERFLOW;
            return fillArray<std::int8_t>(element, list, out, cast<std::int8_t, short>());
        }
        case VT_I2:
            return fillArray<std::int16_t>(element, wireValue<QList<short>>(value), out,
                                           cast<std::int16_t, short>());
        case VT_UI2:
            return fillArray<std::uint16_t>(element, wireValue<QList<ushort>>(value), out,
                                            cast<std::uint16_t, ushort>());
        case VT_I4:
        case VT_INT:
        case VT_ERROR:
            return fillArray<std::int32_t>(element, wireValue<QList<int>>(value), out,
                                           cast<std::int32_t, int>());
        case VT_UI4:
        case VT_UINT:
            return fillArray<std::uint32_t>(element, wireValue<QList<uint>>(value), out,
                                            cast<std::uint32_t, uint>());
        case VT_I8:
        case VT_CY:
            return fillArray<std::int64_t>(element, wireValue<QList<qlonglong>>(value), out,
                                           cast<std::int64_t, qlonglong>());
        case VT_UI8:
            return fillArray<std::uint64_t>(element, wireValue<QList<qulonglong>>(value), out,
                                            cast<std::uint64_t, qulonglong>());
        case VT_R4: {
            const auto list = wireValue<QList<double>>(value);
            if (!std::all_of(list.begin(), list.end(), fitsFloat)) return DISP_E_OVERFLOW;
            return fillArray<float>(element, list, out, cast<float, double>());
        }
        case VT_R8:
        case VT_DATE:
            return fillArray<double>(element, wireValue<QList<double>>(value), out, cast<double, double>());
        case VT_BOOL:
            return fillArray<std::int16_t>(element, wireValue<QList<bool>>(value), out,
                                           [](bool w, std::int16_t* e) {
                                               *e = w ? VARIANT_TRUE : VARIANT_FALSE;
                                               return true;
                                           });
        case VT_BSTR:
            return fillArray<BSTR>(element, wireValue<QStringList>(value), out,
                                   [](const QString& w, BSTR* e) {
                                       *e = SysAllocStringLen(reinterpret_cast<const OLECHAR*>(w.utf16()),
                                                              static_cast<std::uint32_t>(w.size()));
                                       return *e != nullptr;
                                   });
        default:
            return DISP_E_BADVARTYPE;
    }
}

}  // namespace

HRESULT VariantCodec::toWire(const VARIANT& v, WireVariant& w, Peer&) {
    w.vt = v.vt;
    QVariant value;
    if (v.vt & VT_ARRAY) {
        if (valueSignature(v.vt).isEmpty() || !v.parray || SafeArrayGetDim(v.parray) != 1)
            return DISP_E_BADVARTYPE;
        value = arrayToWire(v.parray, v.vt & VT_TYPEMASK);
    } else {
        value = scalarToWire(v);
    }
    if (!value.isValid()) return DISP_E_BADVARTYPE;
    w.value = QDBusVariant(value);
    return S_OK;
}

HRESULT VariantCodec::fromWire(const WireVariant& w, VARIANT& v, Peer&) {
    VariantInit(&v);
    const QString expected = valueSignature(w.vt);
    if (expected.isEmpty()) return DISP_E_BADVARTYPE;
    const QVariant value = w.value.variant();
    if (signatureOfValue(value) != expected) return E_INVALIDARG;
    if (!(w.vt & VT_ARRAY)) return scalarFromWire(w.vt, value, v);
    SAFEARRAY* array = nullptr;
    if (const HRESULT r = arrayFromWire(w.vt & VT_TYPEMASK, value, &array); FAILED(r)) return r;
    v.vt = w.vt;
    v.parray = array;
    return S_OK;
}

UINT findClipboardFormat(const QString& name) {
    const QByteArray wanted = name.toLatin1();
    char buffer[256];
    for (UINT format = 0xC000; format <= 0xFFFF; ++format) {
        const int length = GetClipboardFormatNameA(format, buffer, sizeof buffer);
        if (length == 0) return 0;
        if (qstricmp(QByteArray(buffer, length).constData(), wanted.constData()) == 0) return format;
    }
    return 0;
}

HRESULT FormatEtcCodec::toWire(const FORMATETC& v, WireFormatEtc& w, Peer&) {
    if (v.ptd) return DV_E_DVTARGETDEVICE;
    char buffer[256];
    const int length = v.cfFormat >= 0xC000 ? GetClipboardFormatNameA(v.cfFormat, buffer, sizeof buffer) : 0;
    w.format = length > 0 ? QString::fromLatin1(buffer, length) : QStringLiteral("#%1").arg(v.cfFormat);
    w.aspect = v.dwAspect;
    w.index = v.lindex;
    w.tymed = v.tymed;
    return S_OK;
}

HRESULT FormatEtcCodec::fromWire(const WireFormatEtc& w, FORMATETC& v, Peer&) {
    v = FORMATETC{};
    if (w.format.startsWith(QLatin1Char('#'))) {
        bool ok = false;
        const uint number = w.format.mid(1).toUInt(&ok);
        if (!ok || number > 0xFFFF) return DV_E_FORMATETC;
        v.cfFormat = static_cast<CLIPFORMAT>(number);
    } else {
        v.cfFormat = static_cast<CLIPFORMAT>(findClipboardFormat(w.format));
    }
    v.dwAspect = w.aspect;
    v.lindex = w.index;
    v.tymed = w.tymed;
    return S_OK;
}

HRESULT MediumCodec::toWire(const STGMEDIUM& v, WireMedium& w, Peer&) {
    w.tymed = v.tymed;
    w.bytes.clear();
    if (v.tymed == TYMED_NULL) return S_OK;
    if (v.tymed != TYMED_HGLOBAL) return DV_E_TYMED;
    const SIZE_T size = GlobalSize(v.hGlobal);
    const void* data = GlobalLock(v.hGlobal);
    if (size && !data) return E_OUTOFMEMORY;
    w.bytes = QByteArray(static_cast<const char*>(data), static_cast<qsizetype>(size));
    if (data) GlobalUnlock(v.hGlobal);
    return S_OK;
}

HRESULT MediumCodec::fromWire(const WireMedium& w, STGMEDIUM& v, Peer&) {
    v = STGMEDIUM{};
    if (w.tymed == TYMED_NULL) return S_OK;
    if (w.tymed != TYMED_HGLOBAL) return DV_E_TYMED;
    HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE | GMEM_SHARE, static_cast<SIZE_T>(w.bytes.size()));
    if (!block) return E_OUTOFMEMORY;
    if (!w.bytes.isEmpty()) {
        void* data = GlobalLock(block);
        std::memcpy(data, w.bytes.constData(), static_cast<std::size_t>(w.bytes.size()));
        GlobalUnlock(block);
    }
    v.tymed = TYMED_HGLOBAL;
    v.hGlobal = block;
    return S_OK;
}

}  // namespace platform::com::dbus
