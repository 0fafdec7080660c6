#pragma once

namespace ferrow {

// What the configuration needs from a device's link: connecting it, its connection state, and stopping
// it before the device goes. The device link implements it; a device without a link (the model's own
// tests, a configuration only edited) has the null one. Any thread.
class LinkControl {
  public:
    virtual ~LinkControl() = default;
    // Opens whatever connection is not open; true when the device is connected afterwards.
    virtual bool Connect() = 0;
    virtual bool IsConnected() const = 0;
    virtual bool IsConnecting() const = 0;
    // A connection of the device stands (or is being made), though not necessarily both: its address is
    // in use and must not be edited.
    virtual bool HasOpenPort() const = 0;
    // Ends the link's work without waiting for the device; called before the device is destroyed.
    virtual void Stop() = 0;
};

// Never connects: every state is "not connected".
class NullLinkControl final : public LinkControl {
  public:
    bool Connect() override { return false; }
    bool IsConnected() const override { return false; }
    bool IsConnecting() const override { return false; }
    bool HasOpenPort() const override { return false; }
    void Stop() override {}
};

}  // namespace ferrow
