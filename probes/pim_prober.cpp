#include "probes/pim_prober.h"

#include <random>

#include "probes/message_checksum.h"
#include "probes/probe_limits.h"

namespace {

std::uint32_t freshGenerationId() {
  return generationIdFrom([] {
    std::random_device entropy;
    return static_cast<std::uint32_t>(entropy());
  });
}

}  // namespace

PimProber::PimProber(net::Network& network, net::Family family, const net::PassLink& link)
    : network_(network),
      family_(family),
      source_(link.chosen ? link.chosen->address : net::anyAddress(family)),
      scope_(link.chosen ? link.chosen->index : 0U),
      socket_(network.openCapturing(pimMessageCapture(family), link)),
      generationId_(freshGenerationId()) {}

PimProber::~PimProber() {
  if (!neighbourAnnounced_) return;
  try {
    sendGoodbye();
  } catch (...) {
    // The test already reports the failure that brought it here.
  }
}

void PimProber::sendHello() {
  socket_->sendTo(helloWith(kPimHelloHoldtimeSeconds), helloDestination());
  neighbourAnnounced_ = true;
  socket_->sendIfInterrupted(helloWith(kPimGoodbyeHoldtimeSeconds), helloDestination());
}

void PimProber::sendGoodbye() {
  neighbourAnnounced_ = false;
  socket_->sendTo(helloWith(kPimGoodbyeHoldtimeSeconds), helloDestination());
  socket_->cancelSendIfInterrupted();
}

std::array<std::uint8_t, 26> PimProber::helloWith(std::uint16_t holdtimeSeconds) const {
  if (family_ == net::Family::V4) return pimHello(generationId_, holdtimeSeconds);
  // The socket is bound to the link-local address the checksum is taken over.
  return pimHelloV6(generationId_, source_.withScope(0), net::allPimRoutersGroup(family_),
                    holdtimeSeconds);
}

net::Endpoint PimProber::helloDestination() const {
  const net::Address group = net::allPimRoutersGroup(family_);
  return net::Endpoint{family_ == net::Family::V4 ? group : group.withScope(scope_), 0};
}

void PimProber::receiveMessages(std::int32_t timeOutMs) {
  socket_->listen(timeOutMs, [&](const net::ReceivedDatagram& datagram) {
    const auto message = readPimMessage(datagram.bytes, family_);
    if (message && message->type != PimMessage::Type::Other &&
        !messageChecksumHolds(datagram.bytes)) {
      ++corruptMessages_;
    } else if (message) {
      if (message->type == PimMessage::Type::Hello) keepHello(*message, datagram.arrival);
      // A Bootstrap message names the RPs the domain elected: IPv6's RP evidence too.
      const bool rpEvidence =
          message->type == PimMessage::Type::CandidateRpAdvertisement ||
          (family_ == net::Family::V6 && message->type == PimMessage::Type::Bootstrap);
      if (rpEvidence) keepRpAdvertiser(message->sender);
    }
    return net::AfterDatagram::KeepListening;
  });
  // Silence up to the end counts too: no Hello came within the holdtime.
  const auto ended = network_.now();
  for (std::size_t i = 0; i < hellos_.size(); ++i) noteSilence(hellos_[i], ended - heardAt_[i]);
}

void PimProber::noteSilence(NeighbourHello& hello, std::chrono::steady_clock::duration silence) {
  const auto holdtime = hello.options.holdtimeSeconds;
  // 0 is a goodbye and 0xffff holds for ever (RFC 7761 4.9.2).
  if (!holdtime || *holdtime == 0 || *holdtime == 0xffff) return;
  const auto silenceMs = std::chrono::duration_cast<std::chrono::milliseconds>(silence).count();
  if (silenceMs <= std::int64_t{*holdtime} * 1000) return;
  if (hello.lapse && hello.lapse->silenceMs >= silenceMs) return;
  hello.lapse = HoldtimeLapse{*holdtime, static_cast<std::uint32_t>(silenceMs)};
}

void PimProber::keepHello(const PimMessage& hello, std::chrono::steady_clock::time_point arrival) {
  const auto kept = helloAt_.find(hello.sender);
  if (kept != helloAt_.end()) {
    NeighbourHello& neighbour = hellos_[kept->second];
    noteSilence(neighbour, arrival - heardAt_[kept->second]);
    neighbour.options = hello.hello;
    heardAt_[kept->second] = arrival;
  } else if (hellos_.size() < kMaxHelloSendersKept) {
    helloAt_.emplace(hello.sender, hellos_.size());
    hellos_.push_back(NeighbourHello{hello.sender, hello.hello});
    heardAt_.push_back(arrival);
  } else {
    ++unlistedHellos_;
  }
}

void PimProber::keepRpAdvertiser(const net::Address& sender) {
  if (rpAdvertiserSet_.contains(sender)) return;
  if (rpAdvertisers_.size() < kMaxRpAdvertisersKept) {
    rpAdvertiserSet_.insert(sender);
    rpAdvertisers_.push_back(sender);
  } else {
    ++unlistedRpAdvertisements_;
  }
}
