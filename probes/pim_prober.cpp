#include "probes/pim_prober.h"

#include <random>

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
    : socket_(network.openCapturing(family, kPimProtocol, link, kPimMessagesFilter)),
      generationId_(freshGenerationId()) {}

void PimProber::sendHello() {
  socket_->sendTo(pimHello(generationId_), net::Endpoint{net::kAllPimRoutersGroup, 0});
}

void PimProber::receiveMessages(std::int32_t timeOutMs) {
  socket_->listen(timeOutMs, [&](const net::ReceivedDatagram& datagram) {
    if (const auto message = readPimMessage(datagram.bytes)) {
      if (message->type == PimMessage::Type::Hello) keepHello(*message);
      if (message->type == PimMessage::Type::CandidateRpAdvertisement) {
        keepRpAdvertiser(message->sender);
      }
    }
    return net::AfterDatagram::KeepListening;
  });
}

void PimProber::keepHello(const PimMessage& hello) {
  const auto kept = helloAt_.find(hello.sender);
  if (kept != helloAt_.end()) {
    hellos_[kept->second].options = hello.hello;
  } else if (hellos_.size() < kMaxKeptPerTest) {
    helloAt_.emplace(hello.sender, hellos_.size());
    hellos_.push_back(NeighbourHello{hello.sender, hello.hello});
  }
}

void PimProber::keepRpAdvertiser(const net::Address& sender) {
  if (rpAdvertisers_.size() < kMaxKeptPerTest && rpAdvertiserSet_.insert(sender).second) {
    rpAdvertisers_.push_back(sender);
  }
}
