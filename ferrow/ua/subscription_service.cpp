// The core's entries for the subscription and monitored item service sets; the engine serves them.
#include "ferrow/ua/server_core.h"
#include "ferrow/ua/subscription_engine.h"

namespace ferrow::ua {

void UaServerCore::createSubscription(RequestContext& c, CreateSubscriptionRequest& r) {
    subscriptions_->createSubscription(c, r);
}
void UaServerCore::modifySubscription(RequestContext& c, ModifySubscriptionRequest& r) {
    subscriptions_->modifySubscription(c, r);
}
void UaServerCore::setPublishingMode(RequestContext& c, SetPublishingModeRequest& r) {
    subscriptions_->setPublishingMode(c, r);
}
void UaServerCore::deleteSubscriptions(RequestContext& c, SubscriptionListRequest& r) {
    subscriptions_->deleteSubscriptions(c, r);
}
void UaServerCore::publish(RequestContext& c, PublishRequest& r) { subscriptions_->publish(c, r); }
void UaServerCore::republish(RequestContext& c, RepublishRequest& r) { subscriptions_->republish(c, r); }
void UaServerCore::createMonitoredItems(RequestContext& c, CreateMonitoredItemsRequest& r) {
    subscriptions_->createMonitoredItems(c, r);
}
void UaServerCore::modifyMonitoredItems(RequestContext& c, ModifyMonitoredItemsRequest& r) {
    subscriptions_->modifyMonitoredItems(c, r);
}
void UaServerCore::setMonitoringMode(RequestContext& c, SetMonitoringModeRequest& r) {
    subscriptions_->setMonitoringMode(c, r);
}
void UaServerCore::deleteMonitoredItems(RequestContext& c, DeleteMonitoredItemsRequest& r) {
    subscriptions_->deleteMonitoredItems(c, r);
}

}  // namespace ferrow::ua
