#pragma once

#include <atomic>

#include "platform/com/com_object.h"

namespace ferrow::opc {

// The class object of Ferrow's server class: every CreateInstance makes a new OpcServer. Not itself
// counted in objectCount; its LockServer locks are.
class OpcServerFactory final : public platform::com::ComObject<platform::com::IClassFactory> {
  public:
    OpcServerFactory() = default;

    platform::com::HRESULT CreateInstance(platform::com::IUnknown* pUnkOuter, platform::com::REFIID riid,
                                          void** ppvObject) override;
    platform::com::HRESULT LockServer(platform::com::BOOL fLock) override;

  protected:
    // A factory dropped while clients still hold locks gives their counts back.
    void teardown() override;

  private:
    std::atomic<long> locks_{0};
};

}  // namespace ferrow::opc
