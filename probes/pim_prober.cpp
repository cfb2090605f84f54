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
      // The IPv6 capture walks extension headers under a program of its own.
      socket_(network.openCapturing(family, kPimProtocol, link,
                                    family == net::Family::V4 ? kPimMessagesFilter : "")),
      generationId_(freshGenerationId()) {}

void PimProber::sendHello() {
  const net::Address group = net::allPimRoutersGroup(family_);
  if (family_ == net::Family::V4) {
    socket_->sendTo(pimHello(generationId_), net::Endpoint{group, 0});
    return;
  }
  // The socket is bound to the link-local address the checksum is taken over.
  const auto hello = pimHelloV6(generationId_, source_.withScope(0), group);
  socket_->sendTo(hello, net::Endpoint{group.withScope(scope_), 0});
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
