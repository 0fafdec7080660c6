#pragma once

#include <cstdint>
#include <iterator>

#include "ferrow/ua/node_ids.h"

// The request types ua_message_fuzz frames by number, shared with the writer of its seeds. The last is
// a service the endpoint does not offer (Call).
namespace ferrow::ua::fuzz {

inline constexpr std::uint32_t kRequestTypes[] = {id::ReadRequest,
                                                  id::WriteRequest,
                                                  id::BrowseRequest,
                                                  id::BrowseNextRequest,
                                                  id::TranslateBrowsePathsRequest,
                                                  id::RegisterNodesRequest,
                                                  id::UnregisterNodesRequest,
                                                  id::GetEndpointsRequest,
                                                  id::FindServersRequest,
                                                  id::CreateSessionRequest,
                                                  id::ActivateSessionRequest,
                                                  id::CloseSessionRequest,
                                                  id::CancelRequest,
                                                  id::CreateSubscriptionRequest,
                                                  id::ModifySubscriptionRequest,
                                                  id::SetPublishingModeRequest,
                                                  id::DeleteSubscriptionsRequest,
                                                  id::PublishRequest,
                                                  id::RepublishRequest,
                                                  id::CreateMonitoredItemsRequest,
                                                  id::ModifyMonitoredItemsRequest,
                                                  id::SetMonitoringModeRequest,
                                                  id::DeleteMonitoredItemsRequest,
                                                  712};
inline constexpr std::size_t kRequestTypeCount = std::size(kRequestTypes);

}  // namespace ferrow::ua::fuzz
