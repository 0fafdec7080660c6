// Values of any type under any VARTYPE, media, formats and identifiers, as a peer on the bus may send
// them, in the forms the bus library hands them to the decoders: each is refused with a failure code
// and leaves nothing behind, or accepted as a value of the type it claims, which encodes back to the
// same D-Bus type (for a SAFEARRAY, as many elements).
#include <fuzzer/FuzzedDataProvider.h>

#include <QByteArray>
#include <QDBusMetaType>
#include <QStringList>

#include "platform/com/dbus/codecs.h"
#include "platform/com/safearray.h"
#include "tests/fuzz/fuzz_check.h"

namespace {

using namespace platform::com;
using namespace platform::com::dbus;

// A peer that hands out nothing and knows no object.
class NoPeer final : public Peer {
  public:
    QDBusObjectPath exportObject(IUnknown*) override { return QDBusObjectPath(QStringLiteral("/")); }
    HRESULT importObject(const QDBusObjectPath&, REFIID, bool, void** ppv) override {
        *ppv = nullptr;
        return E_FAIL;
    }
    QDBusObjectPath pathBack(IUnknown*) override { return QDBusObjectPath(QStringLiteral("/")); }
    IUnknown* ownObject(const QDBusObjectPath&) override { return nullptr; }
};

QString text(FuzzedDataProvider& in) { return QString::fromUtf8(in.ConsumeRandomLengthString(64)); }

template <class T>
QVariant listOf(FuzzedDataProvider& in) {
    QList<T> list;
    const std::size_t n = in.ConsumeIntegralInRange<std::size_t>(0, 32);
    for (std::size_t i = 0; i < n && in.remaining_bytes() > 0; ++i)
        list.append(static_cast<T>(in.ConsumeIntegral<qint64>()));
    return QVariant::fromValue(list);
}

// A value of a type the peer chose, whatever the VARTYPE beside it says.
QVariant anyValue(FuzzedDataProvider& in) {
    switch (in.ConsumeIntegralInRange(0, 16)) {
        case 0:
            return QVariant::fromValue(in.ConsumeIntegral<uchar>());
        case 1:
            return QVariant::fromValue(in.ConsumeIntegral<short>());
        case 2:
            return QVariant::fromValue(in.ConsumeIntegral<ushort>());
        case 3:
            return QVariant::fromValue(in.ConsumeIntegral<int>());
        case 4:
            return QVariant::fromValue(in.ConsumeIntegral<uint>());
        case 5:
            return QVariant::fromValue(in.ConsumeIntegral<qlonglong>());
        case 6:
            return QVariant::fromValue(in.ConsumeIntegral<qulonglong>());
        case 7:
            return QVariant::fromValue(in.ConsumeFloatingPoint<double>());
        case 8:
            return QVariant::fromValue(in.ConsumeBool());
        case 9:
            return QVariant::fromValue(text(in));
        case 10:
            return QVariant::fromValue(QByteArray::fromStdString(in.ConsumeRandomLengthString(64)));
        case 11: {
            QStringList list;
            const std::size_t n = in.ConsumeIntegralInRange<std::size_t>(0, 8);
            for (std::size_t i = 0; i < n && in.remaining_bytes() > 0; ++i) list << text(in);
            return QVariant::fromValue(list);
        }
        case 12:
            return listOf<short>(in);
        case 13:
            return listOf<int>(in);
        case 14:
            return listOf<qulonglong>(in);
        case 15:
            return listOf<double>(in);
        default:
            return QVariant::fromValue(QDBusObjectPath(QStringLiteral("/org/quillon/com/obj/1")));
    }
}

QString signature(const WireVariant& w) {
    return QString::fromLatin1(QDBusMetaType::typeToSignature(w.value.variant().metaType()));
}

void variant(FuzzedDataProvider& in, Peer& peer) {
    WireVariant w;
    w.vt = in.ConsumeIntegral<ushort>();
    w.value = QDBusVariant(anyValue(in));
    VARIANT v;
    VariantInit(&v);
    const HRESULT r = VariantCodec::fromWire(w, v, peer);
    if (FAILED(r)) {
        FUZZ_CHECK(v.vt == VT_EMPTY);
        return;
    }
    FUZZ_CHECK(v.vt == w.vt);
    WireVariant back;
    FUZZ_CHECK(SUCCEEDED(VariantCodec::toWire(v, back, peer)));
    FUZZ_CHECK(back.vt == w.vt);
    FUZZ_CHECK(signature(back) == signature(w));
    if (v.vt & VT_ARRAY) {
        FUZZ_CHECK(SafeArrayGetDim(v.parray) == 1);
        const auto count = v.parray->rgsabound[0].cElements;
        const QVariant sent = w.value.variant();
        const qsizetype expected =
            sent.metaType() == QMetaType::fromType<QByteArray>()    ? sent.toByteArray().size()
            : sent.metaType() == QMetaType::fromType<QStringList>() ? sent.toStringList().size()
                                                                    : -1;
        if (expected >= 0) FUZZ_CHECK(static_cast<qsizetype>(count) == expected);
    }
    VariantClear(&v);
}

void medium(FuzzedDataProvider& in, Peer& peer) {
    WireMedium w;
    w.tymed = in.ConsumeIntegral<uint>();
    w.bytes = QByteArray::fromStdString(in.ConsumeRandomLengthString(4096));
    STGMEDIUM m{};
    if (FAILED(MediumCodec::fromWire(w, m, peer))) {
        FUZZ_CHECK(m.tymed == TYMED_NULL && m.hGlobal == nullptr);
        return;
    }
    WireMedium back;
    FUZZ_CHECK(SUCCEEDED(MediumCodec::toWire(m, back, peer)));
    FUZZ_CHECK(back.tymed == w.tymed && back.bytes == (w.tymed == TYMED_NULL ? QByteArray() : w.bytes));
    ReleaseStgMedium(&m);
}

void format(FuzzedDataProvider& in, Peer& peer) {
    WireFormatEtc w;
    w.format = text(in);
    w.aspect = in.ConsumeIntegral<uint>();
    w.index = in.ConsumeIntegral<int>();
    w.tymed = in.ConsumeIntegral<uint>();
    FORMATETC f{};
    if (FAILED(FormatEtcCodec::fromWire(w, f, peer))) return;
    FUZZ_CHECK(f.ptd == nullptr && f.dwAspect == w.aspect && f.lindex == w.index && f.tymed == w.tymed);
    WireFormatEtc back;
    FUZZ_CHECK(SUCCEEDED(FormatEtcCodec::toWire(f, back, peer)));
}

void guid(FuzzedDataProvider& in, Peer& peer) {
    const QString sent = text(in);
    GUID g{};
    if (FAILED(GuidCodec::fromWire(sent, g, peer))) return;
    QString back;
    GuidCodec::toWire(g, back, peer);
    FUZZ_CHECK(back.compare(sent, Qt::CaseInsensitive) == 0 || sent.size() != back.size());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const bool registered = (registerWireTypes(), true);
    (void)registered;
    FuzzedDataProvider in(data, size);
    NoPeer peer;
    while (in.remaining_bytes() > 0) {
        switch (in.ConsumeIntegralInRange(0, 3)) {
            case 0:
                variant(in, peer);
                break;
            case 1:
                medium(in, peer);
                break;
            case 2:
                format(in, peer);
                break;
            default:
                guid(in, peer);
                break;
        }
    }
    return 0;
}
