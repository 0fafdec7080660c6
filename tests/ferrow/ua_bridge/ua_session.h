#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "ferrow/ua/attribute_messages.h"
#include "ferrow/ua/subscription_messages.h"
#include "ferrow/ua/view_messages.h"
#include "tests/ferrow/ua/socket_client.h"

namespace ferrow::ua_bridge::test {

// The service calls a UA client makes in a first session, over the tests' socket client: each returns
// what the endpoint answered, or an empty or bad result when it did not.
class UaSession {
  public:
    explicit UaSession(ua::test::SocketClient& client) : client_(client) {}

    std::vector<ua::ReferenceDescription> browse(const ua::NodeId& node);
    std::optional<ua::DataValue> readValue(const ua::NodeId& node);
    std::uint32_t writeValue(const ua::NodeId& node, ua::Variant value);
    std::uint32_t subscribe();
    // Monitors the node's Value under `clientHandle`; the status of the item's creation.
    std::uint32_t monitor(std::uint32_t subscription, const ua::NodeId& node, std::uint32_t clientHandle);
    std::uint32_t deleteSubscription(std::uint32_t subscription);
    // Publishes until a data change of `clientHandle` satisfies `wanted`, at most `publishes` times.
    template <class Pred>
    std::optional<ua::DataValue> changeWhere(std::uint32_t clientHandle, Pred wanted, int publishes = 500) {
        for (int i = 0; i < publishes; ++i)
            for (const ua::MonitoredItemNotification& item : publishChanges())
                if (item.clientHandle == clientHandle && wanted(item.value)) return item.value;
        return std::nullopt;
    }

  private:
    // One Publish (acknowledging the previous one's message): the data changes it carried.
    std::vector<ua::MonitoredItemNotification> publishChanges();

    ua::test::SocketClient& client_;
    std::vector<ua::SubscriptionAcknowledgement> acknowledgements_;
};

// The number in a value's variant, whatever its numeric type; nothing for anything else.
std::optional<double> numberOf(const ua::DataValue& value);

}  // namespace ferrow::ua_bridge::test
