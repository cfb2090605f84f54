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
    : family_(family),
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
      if (message->type == PimMessage::Type::Hello) keepHello(*message);
      // A Bootstrap message names the RPs the domain elected: IPv6's RP evidence too.
      const bool rpEvidence =
          message->type == PimMessage::Type::CandidateRpAdvertisement ||
          (family_ == net::Family::V6 && message->type == PimMessage::Type::Bootstrap);
      if (rpEvidence) keepRpAdvertiser(message->sender);
    }
    return net::AfterDatagram::KeepListening;
  });
}

void PimProber::keepHello(const PimMessage& hello) {
  const auto kept = helloAt_.find(hello.sender);
  if (kept != helloAt_.end()) {
    hellos_[kept->second].options = hello.hello;
  } else if (hellos_.size() < kMaxHelloSendersKept) {
    helloAt_.emplace(hello.sender, hellos_.size());
    hellos_.push_back(NeighbourHello{hello.sender, hello.hello});
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
