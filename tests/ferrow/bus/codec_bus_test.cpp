// Values across the bus, both ways: every VARIANT type of the bus contract written through a proxy
// arrives as it was sent and comes back the same; values that cannot travel, or whose (qv) pair does not
// match, are refused with the codes COM's marshaling would give.

#include <gtest/gtest.h>

#include <QDBusConnection>
#include <QDBusMessage>
#include <cmath>
#include <limits>
#include <mutex>

#include "ferrow/bus/opc_tables.h"
#include "platform/com/com_object.h"
#include "platform/com/com_ptr.h"
#include "platform/com/dbus/bus_node.h"
#include "platform/com/safearray.h"
#include "platform/com/task_memory.h"
#include "tests/platform/com/dbus/test_bus.h"

namespace {

using namespace platform::com;
using namespace ferrow::opc;

// Keeps what Write is given; Read hands it back (client handle = position).
class EchoIO final : public ComObject<IOPCSyncIO> {
  public:
    ~EchoIO() {
        for (VARIANT& v : values) VariantClear(&v);
    }
    HRESULT Read(OPCDATASOURCE, DWORD count, OPCHANDLE* handles, OPCITEMSTATE** states,
                 HRESULT** errors) override {
        std::lock_guard guard(lock);
        *states = taskArray<OPCITEMSTATE>(count);
        *errors = taskArray<HRESULT>(count);
        for (DWORD i = 0; i < count; ++i) {
            (*states)[i].hClient = handles[i];
            (*states)[i].wQuality = 0xC0;
            (*states)[i].ftTimeStamp = FILETIME::fromTicks(0x01D9'0000'0000'0000ULL + i);
            VariantCopy(&(*states)[i].vDataValue, &values.at(handles[i]));
        }
        return S_OK;
    }
    HRESULT Write(DWORD count, OPCHANDLE*, VARIANT* in, HRESULT** errors) override {
        std::lock_guard guard(lock);
        *errors = taskArray<HRESULT>(count);
        for (DWORD i = 0; i < count; ++i) {
            values.emplace_back();
            VariantInit(&values.back());
            VariantCopy(&values.back(), &in[i]);
        }
        return S_OK;
    }
    std::mutex lock;
    std::vector<VARIANT> values;
};

class CodecBusTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(bus.started());
        ferrow::bus::registerOpcTables();
        server = platform::com::dbus::BusNode::start(
            QDBusConnection::connectToBus(bus.address(), QStringLiteral("codec-server")));
        client = platform::com::dbus::BusNode::start(
            QDBusConnection::connectToBus(bus.address(), QStringLiteral("codec-client")));
        ASSERT_TRUE(server && client);
        echo = ComPtr<EchoIO>(new EchoIO);
        path = server->exportFor(static_cast<IOPCSyncIO*>(echo.get()), client->connection().baseService());
        ASSERT_EQ(client->importObject(server->connection().baseService(), path, IID_IOPCSyncIO, true,
                                       proxy.putVoid()),
                  S_OK);
    }
    void TearDown() override {
        proxy.reset();
        client->stop();
        server->stop();
        QDBusConnection::disconnectFromBus(QStringLiteral("codec-server"));
        QDBusConnection::disconnectFromBus(QStringLiteral("codec-client"));
    }

    bustest::TestBus bus;
    std::shared_ptr<platform::com::dbus::BusNode> server, client;
    ComPtr<EchoIO> echo;
    ComPtr<IOPCSyncIO> proxy;
    QDBusObjectPath path;
};

VARIANT make(VARTYPE vt, auto set) {
    VARIANT v;
    VariantInit(&v);
    v.vt = vt;
    set(v);
    return v;
}

template <class T>
VARIANT array(VARTYPE element, std::initializer_list<T> items) {
    VARIANT v;
    VariantInit(&v);
    v.vt = VT_ARRAY | element;
    v.parray = SafeArrayCreateVector(element, 0, static_cast<std::uint32_t>(items.size()));
    std::int32_t i = 0;
    for (const T& item : items) {
        if constexpr (std::is_same_v<T, BSTR>)
            SafeArrayPutElement(v.parray, &i, item);  // a string element is given as the BSTR itself
        else
            SafeArrayPutElement(v.parray, &i, &item);
        ++i;
    }
    return v;
}

TEST_F(CodecBusTest, EveryTypeOfTheContractCrossesBothWaysUnchanged) {
    BSTR text = bstrFromAnsi("Grüße, Ferrow");
    BSTR first = bstrFromAnsi("a");
    BSTR second = bstrFromAnsi("");
    std::vector<VARIANT> values{
        make(VT_EMPTY, [](VARIANT&) {}),
        make(VT_NULL, [](VARIANT&) {}),
        make(VT_UI1, [](VARIANT& v) { v.bVal = 250; }),
        make(VT_I1, [](VARIANT& v) { v.cVal = -100; }),
        make(VT_I2, [](VARIANT& v) { v.iVal = -32768; }),
        make(VT_UI2, [](VARIANT& v) { v.uiVal = 65535; }),
        make(VT_I4, [](VARIANT& v) { v.lVal = -2147483647 - 1; }),
        make(VT_INT, [](VARIANT& v) { v.intVal = 7; }),
        make(VT_ERROR, [](VARIANT& v) { v.scode = OPC_E_UNKNOWNITEMID; }),
        make(VT_UI4, [](VARIANT& v) { v.ulVal = 4294967295u; }),
        make(VT_UINT, [](VARIANT& v) { v.uintVal = 9; }),
        make(VT_I8, [](VARIANT& v) { v.llVal = -9223372036854775807LL; }),
        make(VT_CY, [](VARIANT& v) { v.llVal = 123456789; }),
        make(VT_UI8, [](VARIANT& v) { v.ullVal = 18446744073709551615ULL; }),
        make(VT_R4, [](VARIANT& v) { v.fltVal = 3.25f; }),
        make(VT_R8, [](VARIANT& v) { v.dblVal = -1e300; }),
        make(VT_DATE, [](VARIANT& v) { v.date = 45000.5; }),
        make(VT_BOOL, [](VARIANT& v) { v.boolVal = VARIANT_TRUE; }),
        make(VT_BSTR, [&](VARIANT& v) { v.bstrVal = SysAllocString(text); }),
        array<std::uint8_t>(VT_UI1, {0, 255, 0}),
        array<std::int16_t>(VT_I2, {-1, 2}),
        array<std::int32_t>(VT_I4, {1, -2, 3}),
        array<float>(VT_R4, {0.5f, -0.25f}),
        array<double>(VT_R8, {}),
        array<std::int16_t>(VT_BOOL, {VARIANT_TRUE, VARIANT_FALSE}),
        array<BSTR>(VT_BSTR, {first, second}),
    };
    const DWORD n = static_cast<DWORD>(values.size());
    std::vector<OPCHANDLE> handles(n);
    for (DWORD i = 0; i < n; ++i) handles[i] = i;
    HRESULT* errors = nullptr;
    ASSERT_EQ(proxy->Write(n, handles.data(), values.data(), &errors), S_OK);
    CoTaskMemFree(errors);
    {
        std::lock_guard guard(echo->lock);
        ASSERT_EQ(echo->values.size(), values.size());
        for (DWORD i = 0; i < n; ++i)
            EXPECT_TRUE(VariantEqual(echo->values[i], values[i])) << "in, type " << values[i].vt;
    }
    OPCITEMSTATE* states = nullptr;
    ASSERT_EQ(proxy->Read(OPC_DS_CACHE, n, handles.data(), &states, &errors), S_OK);
    for (DWORD i = 0; i < n; ++i) {
        EXPECT_TRUE(VariantEqual(states[i].vDataValue, values[i])) << "out, type " << values[i].vt;
        EXPECT_EQ(states[i].hClient, i);
        EXPECT_EQ(states[i].wQuality, 0xC0);
        EXPECT_EQ(states[i].ftTimeStamp.ticks(), 0x01D9'0000'0000'0000ULL + i);
        VariantClear(&states[i].vDataValue);
    }
    CoTaskMemFree(states);
    CoTaskMemFree(errors);
    for (VARIANT& v : values) VariantClear(&v);
    SysFreeString(text);
    SysFreeString(first);
    SysFreeString(second);
}

TEST_F(CodecBusTest, ValuesThatCannotTravelAreRefusedAndNothingArrives) {
    // A type outside the contract fails in the proxy, before anything is sent.
    VARIANT unknown;
    VariantInit(&unknown);
    unknown.vt = VT_DECIMAL;
    OPCHANDLE handle = 0;
    HRESULT* errors = reinterpret_cast<HRESULT*>(1);
    EXPECT_EQ(proxy->Write(1, &handle, &unknown, &errors), DISP_E_BADVARTYPE);
    EXPECT_EQ(errors, nullptr);

    // A (qv) whose value does not match its type, from any D-Bus client: E_INVALIDARG, empty results.
    QDBusConnection raw = QDBusConnection::connectToBus(bus.address(), QStringLiteral("codec-raw"));
    QDBusMessage message =
        QDBusMessage::createMethodCall(server->connection().baseService(), path.path(),
                                       QStringLiteral("org.quillon.com.IOPCSyncIO"), QStringLiteral("Write"));
    platform::com::dbus::WireVariant mismatched{VT_I4, QDBusVariant(QStringLiteral("twelve"))};
    message << QVariant::fromValue(QList<uint>{0})
            << QVariant::fromValue(QList<platform::com::dbus::WireVariant>{mismatched});
    QDBusMessage reply = raw.call(message, QDBus::Block, 5000);
    ASSERT_EQ(reply.signature(), QStringLiteral("uau")) << reply.errorMessage().toStdString();
    EXPECT_EQ(reply.arguments().value(0).toUInt(), static_cast<uint>(E_INVALIDARG));
    // Arrays sized by one count must be equally long.
    QDBusMessage uneven =
        QDBusMessage::createMethodCall(server->connection().baseService(), path.path(),
                                       QStringLiteral("org.quillon.com.IOPCSyncIO"), QStringLiteral("Write"));
    platform::com::dbus::WireVariant fine{VT_I4, QDBusVariant(QVariant::fromValue(int{12}))};
    uneven << QVariant::fromValue(QList<uint>{0, 1})
           << QVariant::fromValue(QList<platform::com::dbus::WireVariant>{fine});
    reply = raw.call(uneven, QDBus::Block, 5000);
    EXPECT_EQ(reply.arguments().value(0).toUInt(), static_cast<uint>(E_INVALIDARG));
    // A number the wire holds but the type does not (a VT_I1 of 1000, a double beyond the range of a
    // VT_R4, as a scalar or in an array) is an overflow, never a wrapped or undefined value.
    const platform::com::dbus::WireVariant tooWide[] = {
        {VT_I1, QDBusVariant(QVariant::fromValue(short{1000}))},
        {VT_R4, QDBusVariant(QVariant::fromValue(1e300))},
        {VT_ARRAY | VT_I1, QDBusVariant(QVariant::fromValue(QList<short>{1, -129}))},
        {VT_ARRAY | VT_R4, QDBusVariant(QVariant::fromValue(QList<double>{0.5, -1e39}))},
    };
    for (const auto& wide : tooWide) {
        QDBusMessage call = QDBusMessage::createMethodCall(server->connection().baseService(), path.path(),
                                                           QStringLiteral("org.quillon.com.IOPCSyncIO"),
                                                           QStringLiteral("Write"));
        call << QVariant::fromValue(QList<uint>{0})
             << QVariant::fromValue(QList<platform::com::dbus::WireVariant>{wide});
        reply = raw.call(call, QDBus::Block, 5000);
        EXPECT_EQ(reply.arguments().value(0).toUInt(), static_cast<uint>(DISP_E_OVERFLOW))
            << "type " << wide.vt;
    }
    {
        std::lock_guard guard(echo->lock);
        EXPECT_TRUE(echo->values.empty());
    }
    QDBusConnection::disconnectFromBus(QStringLiteral("codec-raw"));
}

// A FLOAT argument (a deadband) travels as a double: one the float cannot hold is refused as an
// overflow, never cast; an infinity or a NaN arrives as it is, for the callee to judge.
TEST(FloatArgument, ADoubleBeyondTheFloatRangeIsAnOverflow) {
    struct NoPeer final : platform::com::dbus::Peer {
        QDBusObjectPath exportObject(IUnknown*) override { return QDBusObjectPath(QStringLiteral("/")); }
        HRESULT importObject(const QDBusObjectPath&, REFIID, bool, void**) override { return E_NOTIMPL; }
        QDBusObjectPath pathBack(IUnknown*) override { return QDBusObjectPath(QStringLiteral("/")); }
        IUnknown* ownObject(const QDBusObjectPath&) override { return nullptr; }
    } peer;
    using platform::com::dbus::D;
    float value = 1.5f;
    EXPECT_EQ(D::fromWire(1e300, value, peer), DISP_E_OVERFLOW);
    EXPECT_EQ(D::fromWire(-3.5e38, value, peer), DISP_E_OVERFLOW);
    EXPECT_EQ(value, 1.5f);
    EXPECT_EQ(D::fromWire(3.4e38, value, peer), S_OK);
    EXPECT_EQ(D::fromWire(std::numeric_limits<double>::infinity(), value, peer), S_OK);
    EXPECT_TRUE(std::isinf(value));
    EXPECT_EQ(D::fromWire(2.5, value, peer), S_OK);
    EXPECT_EQ(value, 2.5f);
}

}  // namespace
