#include "ferrow/bus/array_turns.h"

#include <QDBusArgument>

#include "ferrow/bus/opc_wire.h"
#include "ferrow/opc/opc_ids.h"

namespace ferrow::bus {

namespace {
using platform::com::HRESULT;
using platform::com::dbus::ServedCall;
using platform::com::dbus::WireVariant;

template <class W>
const QList<W>& listIn(const QVariant& value) {
    return *static_cast<const QList<W>*>(value.constData());
}

template <class W>
const ListOps& listOf() {
    static const ListOps ops{
        [](const QVariant& value) { return QVariant::fromValue(qdbus_cast<QList<W>>(value)); },
        [](const QVariant& list) { return listIn<W>(list).size(); },
        [](const QVariant& list, qsizetype from, qsizetype count) {
            return QVariant::fromValue(listIn<W>(list).mid(from, count));
        },
        [](QVariant& into, const QVariant& part, qsizetype count) {
            auto* list = static_cast<QList<W>*>(into.data());
            const QList<W> values = qvariant_cast<QList<W>>(part);
            list->append(values.mid(0, std::min(count, values.size())));
            list->resize(list->size() + std::max<qsizetype>(0, count - values.size()));
        },
        [] { return QVariant::fromValue(QList<W>{}); },
    };
    return ops;
}

using Errors = QList<uint>;

const ArrayShape kAddItems{{{0, &listOf<WireItemDef>()}}, {&listOf<WireItemResult>(), &listOf<uint>()}};
const ArrayShape kHandles{{{0, &listOf<uint>()}}, {&listOf<uint>()}};
const ArrayShape kTwoHandles{{{0, &listOf<uint>()}, {1, &listOf<uint>()}}, {&listOf<uint>()}};
const ArrayShape kDatatypes{{{0, &listOf<uint>()}, {1, &listOf<ushort>()}}, {&listOf<uint>()}};
const ArrayShape kRead{{{1, &listOf<uint>()}}, {&listOf<WireItemState>(), &listOf<uint>()}};
const ArrayShape kWrite{{{0, &listOf<uint>()}, {1, &listOf<WireVariant>()}}, {&listOf<uint>()}};

// One array call on its way through its parts; lives in the continuations it queues.
class Turns : public std::enable_shared_from_this<Turns> {
  public:
    Turns(std::shared_ptr<ServedCall> call, const ArrayShape& shape, std::size_t perTurn, PartGuard guard)
        : call_(std::move(call)),
          shape_(shape),
          perTurn_(std::max<std::size_t>(perTurn, 1)),
          guard_(std::move(guard)) {}

    // False when the call's arrays cannot be cut (none, or not equally long): it then runs whole.
    bool prepare() {
        in_ = call_->arguments();
        for (const auto& [position, ops] : shape_.in) {
            if (position >= in_.size()) return false;
            in_[position] = ops->take(in_[position]);
            const auto size = static_cast<std::size_t>(ops->size(in_[position]));
            if (position != shape_.in.front().first && size != total_) return false;
            total_ = size;
        }
        for (const ListOps* ops : shape_.out) joined_.push_back(ops->empty());
        return total_ > 0;
    }

    void next() {
        while (done_ < total_) {
            const std::size_t count = std::min(perTurn_, total_ - done_);
            const std::size_t admitted = guard_.admit ? std::min(guard_.admit(count), count) : count;
            if (admitted > 0) runPart(admitted);
            if (admitted < count) failPart(count - admitted, platform::com::E_OUTOFMEMORY);
            if (admitted > 0 && done_ < total_) {
                call_->resume([self = shared_from_this()] { self->next(); });
                return;
            }
        }
        finish();
    }

  private:
    void runPart(std::size_t count) {
        QVariantList part = in_;
        for (const auto& [position, ops] : shape_.in)
            part[position] =
                ops->slice(in_[position], static_cast<qsizetype>(done_), static_cast<qsizetype>(count));
        QVariantList out = call_->run(part);
        if (guard_.settle) guard_.settle(count, out);
        const auto result = static_cast<HRESULT>(out.value(0).toUInt());
        if (platform::com::FAILED(result) || out.size() != static_cast<qsizetype>(shape_.out.size()) + 1) {
            failPart(count, platform::com::FAILED(result) ? result : platform::com::E_FAIL);
            return;
        }
        ++parts_;
        if (total_ == count) whole_ = out;
        noteResult(result);
        for (std::size_t k = 0; k < shape_.out.size(); ++k)
            shape_.out[k]->append(joined_[k], out[static_cast<qsizetype>(k) + 1],
                                  static_cast<qsizetype>(count));
        done_ += count;
    }

    void failPart(std::size_t count, HRESULT failure) {
        ++parts_;
        noteResult(failure);
        for (std::size_t k = 0; k + 1 < shape_.out.size(); ++k)
            shape_.out[k]->append(joined_[k], QVariant(), static_cast<qsizetype>(count));
        auto* errors = static_cast<Errors*>(joined_.back().data());
        errors->insert(errors->size(), static_cast<qsizetype>(count), static_cast<uint>(failure));
        done_ += count;
    }

    void noteResult(HRESULT result) {
        if (parts_ == 1) firstResult_ = result;
        sameFailure_ = sameFailure_ && platform::com::FAILED(result) && result == firstResult_;
        allOk_ = allOk_ && result == platform::com::S_OK;
    }

    void finish() {
        if (parts_ == 1 && !whole_.isEmpty()) {
            call_->reply(whole_);
            return;
        }
        QVariantList out{QVariant::fromValue(static_cast<uint>(
            sameFailure_ ? firstResult_ : (allOk_ ? platform::com::S_OK : platform::com::S_FALSE)))};
        for (std::size_t k = 0; k < shape_.out.size(); ++k)
            out << (sameFailure_ ? shape_.out[k]->empty() : joined_[k]);
        call_->reply(out);
    }

    std::shared_ptr<ServedCall> call_;
    const ArrayShape& shape_;
    const std::size_t perTurn_;
    PartGuard guard_;
    QVariantList in_;
    std::vector<QVariant> joined_;
    QVariantList whole_;
    std::size_t total_ = 0;
    std::size_t done_ = 0;
    std::size_t parts_ = 0;
    HRESULT firstResult_ = platform::com::S_OK;
    bool sameFailure_ = true;
    bool allOk_ = true;
};
}  // namespace

const ArrayShape* arrayShapeOf(const platform::com::IID& iid, const QString& member) {
    if (iid == opc::IID_IOPCItemMgt) {
        if (member == QLatin1String("AddItems") || member == QLatin1String("ValidateItems"))
            return &kAddItems;
        if (member == QLatin1String("RemoveItems") || member == QLatin1String("SetActiveState"))
            return &kHandles;
        if (member == QLatin1String("SetClientHandles")) return &kTwoHandles;
        if (member == QLatin1String("SetDatatypes")) return &kDatatypes;
    } else if (iid == opc::IID_IOPCSyncIO) {
        if (member == QLatin1String("Read")) return &kRead;
        if (member == QLatin1String("Write")) return &kWrite;
    }
    return nullptr;
}

void serveInTurns(const std::shared_ptr<ServedCall>& call, const ArrayShape& shape, std::size_t perTurn,
                  PartGuard guard) {
    auto turns = std::make_shared<Turns>(call, shape, perTurn, std::move(guard));
    if (!turns->prepare()) {
        call->reply(call->run(call->arguments()));
        return;
    }
    turns->next();
}

std::size_t succeededItems(const QVariantList& out) {
    if (out.size() < 2 || platform::com::FAILED(static_cast<HRESULT>(out.first().toUInt()))) return 0;
    std::size_t succeeded = 0;
    for (uint error : qvariant_cast<Errors>(out.last()))
        succeeded += platform::com::SUCCEEDED(static_cast<HRESULT>(error)) ? 1 : 0;
    return succeeded;
}

}  // namespace ferrow::bus
