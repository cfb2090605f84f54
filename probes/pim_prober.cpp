#include "probes/pim_prober.h"

#include <random>

#include "net/address.h"
#include "net/listen_loop.h"
#include "probes/pim_messages.h"

namespace {

std::uint32_t freshGenerationId() {
  return generationIdFrom([] {
    std::random_device entropy;
    return static_cast<std::uint32_t>(entropy());
  });
}
}  // namespace

PimProber::PimProber(const net::PassLink& link)
    : net::RawSocket(kPimProtocol), generationId_(freshGenerationId()) {
  bindToLink(link);
  enableReceiveAll();
}

int PimProber::sendHello() {
  const auto hello = pimHello(generationId_);
  return sendTo(hello, net::socketAddress(net::addressOf(net::kAllPimRoutersGroup)));
}

void PimProber::receiveMessages(std::int32_t timeOutMs) {
  enableReceiveAll();
  net::listenFor(
      *this, timeOutMs, [&](std::span<const std::uint8_t> datagram, const sockaddr_in& sender) {
        switch (readPimMessage(datagram)) {
          case PimMessage::Hello:
            responders_.add(net::addressText(sender.sin_addr));
            if (const auto hello = readHelloDetails(datagram)) keepHello(*hello);
            break;
          case PimMessage::CandidateRpAdvertisement: {
            const std::string text = net::addressText(sender.sin_addr);
            if (rpSenders_.size() < kMaxHellosKept && !rendezvousPoints_.contains(text)) {
              rpSenders_.push_back(text);
            }
            rendezvousPoints_.add(text);
            break;
          }
          case PimMessage::Other:
            break;
        }
        return net::AfterDatagram::KeepListening;
      });
}

void PimProber::keepHello(const HelloDetails& hello) {
  for (HelloDetails& kept : helloDetails_) {
    if (kept.sender.s_addr == hello.sender.s_addr) {
      kept = hello;
      return;
    }
  }
  if (helloDetails_.size() < kMaxHellosKept) helloDetails_.push_back(hello);
}
