#pragma once

#include <QVariant>
#include <QVariantList>
#include <cstddef>
#include <functional>
#include <memory>
#include <vector>

#include "platform/com/dbus/served_call.h"

namespace ferrow::bus {

// One wire list type as the turns handle it, whatever its element.
struct ListOps {
    // The list as its own type (it arrives from the bus still marshalled).
    QVariant (*take)(const QVariant& value);
    qsizetype (*size)(const QVariant& list);
    QVariant (*slice)(const QVariant& list, qsizetype from, qsizetype count);
    // Appends exactly `count` elements of `part` to `into`, empty ones where `part` is short.
    void (*append)(QVariant& into, const QVariant& part, qsizetype count);
    QVariant (*empty)();
};

// An array method: its [in] arrays, cut in step (argument positions), and its [out] arrays after the
// HRESULT, the last one the per-item errors.
struct ArrayShape {
    std::vector<std::pair<int, const ListOps*>> in;
    std::vector<const ListOps*> out;
};

// The shape of an OPC array method that may run in turns; null for the others.
const ArrayShape* arrayShapeOf(const platform::com::IID& iid, const QString& member);

// What a limit makes of each part of an array call.
struct PartGuard {
    // How many of the next `count` items may run now; the rest fail with E_OUTOFMEMORY.
    std::function<std::size_t(std::size_t count)> admit;
    // After a part of `admitted` items ran, with its answer.
    std::function<void(std::size_t admitted, const QVariantList& out)> settle;
};

// Serves an array call in parts of at most `perTurn` items, giving the worker back between two parts so
// that the other callers' waiting calls are served in between, and answers once with the parts joined:
// S_OK when every part succeeded, the failure itself when every part failed the same way, else S_FALSE
// with the failed parts' code on each of their items. A call of one part is answered as it ran.
void serveInTurns(const std::shared_ptr<platform::com::dbus::ServedCall>& call, const ArrayShape& shape,
                  std::size_t perTurn, PartGuard guard = {});

// How many of the per-item errors in `out` (an array method's answer) are successes.
std::size_t succeededItems(const QVariantList& out);

}  // namespace ferrow::bus
