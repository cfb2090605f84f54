// Says Hello to the link's PIM routers and collects who answers: the senders
// of PIM Hellos, and of Candidate-RP-Advertisements that pass the link.
#pragma once

#include <array>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "net/network.h"
#include "probes/pim_messages.h"

// The last Hello heard from one neighbour.
// A sender that fell silent for longer than the holdtime its Hello gave:
// its neighbours forgot it before it spoke again.
struct HoldtimeLapse {
  std::uint16_t holdtimeSeconds = 0;
  // From that Hello to the next, or to the end of the listening.
  std::uint32_t silenceMs = 0;
};

struct NeighbourHello {
  net::Address sender;
  HelloOptions options;
  // The longest such silence heard; nothing when none outlasted a holdtime.
  std::optional<HoldtimeLapse> lapse = std::nullopt;
};

class PimProber {
 public:
  // Captures PIM from here on: routers answer a new neighbour within a few
  // milliseconds of its Hello.
  PimProber(net::Network& network, net::Family family, const net::PassLink& link);
  // A Hello that left without its goodbye (a failed listen) gets one here.
  ~PimProber();
  PimProber(const PimProber&) = delete;
  PimProber& operator=(const PimProber&) = delete;
  PimProber(PimProber&&) = delete;
  PimProber& operator=(PimProber&&) = delete;

  void sendHello();
  // The same neighbour's Hello with Holdtime 0: the routers forget it now
  // rather than when the first Hello's holdtime runs out.
  void sendGoodbye();
  // Records PIM senders for the whole timeOutMs, never less.
  void receiveMessages(std::int32_t timeOutMs);

  // The last Hello of each sender, in the order senders were first heard, up
  // to kMaxHelloSendersKept senders.
  [[nodiscard]] const std::vector<NeighbourHello>& hellos() const { return hellos_; }
  // The senders of Candidate-RP-Advertisements (and, over IPv6, Bootstrap
  // messages), in the order first heard, up to kMaxRpAdvertisersKept.
  [[nodiscard]] const std::vector<net::Address>& rpAdvertisers() const { return rpAdvertisers_; }
  // Hellos, RP advertisements and Bootstrap messages whose checksum failed.
  [[nodiscard]] std::int64_t corruptMessages() const { return corruptMessages_; }
  // Hellos, and RP advertisements, from senders beyond those bounds.
  [[nodiscard]] std::int64_t unlistedHellos() const { return unlistedHellos_; }
  [[nodiscard]] std::int64_t unlistedRpAdvertisements() const { return unlistedRpAdvertisements_; }

 private:
  [[nodiscard]] std::array<std::uint8_t, 26> helloWith(std::uint16_t holdtimeSeconds) const;
  [[nodiscard]] net::Endpoint helloDestination() const;
  void keepHello(const PimMessage& hello, std::chrono::steady_clock::time_point arrival);
  // A silence of `silence` after `hello`'s Hello, if it outlasted its holdtime.
  static void noteSilence(NeighbourHello& hello, std::chrono::steady_clock::duration silence);
  void keepRpAdvertiser(const net::Address& sender);

  net::Network& network_;
  net::Family family_;
  // Where the Hello goes from and to: IPv6's checksum covers both.
  net::Address source_;
  unsigned int scope_;
  std::unique_ptr<net::ProbeSocket> socket_;
  std::uint32_t generationId_;
  bool neighbourAnnounced_ = false;
  std::vector<NeighbourHello> hellos_;
  std::vector<net::Address> rpAdvertisers_;
  std::int64_t unlistedHellos_ = 0;
  std::int64_t corruptMessages_ = 0;
  std::int64_t unlistedRpAdvertisements_ = 0;
  // Where each sender's entry is: a flood of Hellos from new addresses asks
  // for every one of them.
  std::unordered_map<net::Address, std::size_t, net::AddressHash> helloAt_;
  // When each kept sender's last Hello arrived, by its entry.
  std::vector<std::chrono::steady_clock::time_point> heardAt_;
  std::unordered_set<net::Address, net::AddressHash> rpAdvertiserSet_;
};
