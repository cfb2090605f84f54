// The operating system's network, as the tool's probes use it.
#pragma once

#include "net/capture/link_captures.h"
#include "net/network.h"

namespace net {

class SystemNetwork final : public Network {
 public:
  std::unique_ptr<ProbeSocket> openReceiver(Family family, std::uint16_t port) override;
  std::unique_ptr<ProbeSocket> openPinger(const CaptureRequest& replies,
                                          const PassLink& link) override;
  std::unique_ptr<ProbeSocket> openCapturing(const CaptureRequest& request,
                                             const PassLink& link) override;
  void prepareCaptures(const PassLink& link) override;
  void releaseCaptures() override;
  std::unique_ptr<ProbeSocket> openBeaconCapture(const CaptureRequest& request,
                                                 const PassLink& link) override;
  HostMulticastState hostState(const PassLink& link) override;
  bool hostHoldsGroup(const Address& group, const PassLink& link) override;
  std::optional<std::vector<std::string>> routeInterfaces(const Address& destination,
                                                          const PassLink& link) override;
  void requireLinkUp(const PassLink& link, const char* operation) override;
  void pause(std::uint32_t milliseconds) override;
  std::chrono::steady_clock::time_point now() override;

 private:
  LinkCaptures captures_;
};

}  // namespace net
