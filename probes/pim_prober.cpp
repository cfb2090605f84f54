#include "probes/pim_prober.h"

#include <random>

#include "net/address.h"
#include "net/listen_loop.h"
#include "probes/pim_messages.h"

namespace {
const char* const kAllPimRouters = "224.0.0.13";

std::uint32_t freshGenerationId() {
  return generationIdFrom([] {
    std::random_device entropy;
    return static_cast<std::uint32_t>(entropy());
  });
}
}  // namespace

PimProber::PimProber(const net::PassLink& link)
    : net::RawSocket(kPimProtocol), generationId(freshGenerationId()) {
  bindToLink(link);
  enableReceiveAll();
}

int PimProber::sendHello() {
  const auto hello = pimHello(generationId);
  return sendTo(hello, net::socketAddress(kAllPimRouters));
}

void PimProber::receiveMessages(std::int32_t timeOutMs) {
  enableReceiveAll();
  net::listenFor(*this, timeOutMs,
                 [&](std::span<const std::uint8_t> datagram, const sockaddr_in& sender) {
                   switch (readPimMessage(datagram)) {
                     case PimMessage::Hello:
                       responders.add(net::addressText(sender.sin_addr));
                       if (const auto hello = readHelloDetails(datagram)) keepHello(*hello);
                       break;
                     case PimMessage::CandidateRpAdvertisement: {
                       const std::string text = net::addressText(sender.sin_addr);
                       if (rpSenders.size() < kMaxHellosKept && !rendezvousPoints.contains(text)) {
                         rpSenders.push_back(text);
                       }
                       rendezvousPoints.add(text);
                       break;
                     }
                     case PimMessage::Other:
                       break;
                   }
                   return net::AfterDatagram::KeepListening;
                 });
}

void PimProber::keepHello(const HelloDetails& hello) {
  for (HelloDetails& kept : helloDetails) {
    if (kept.sender.s_addr == hello.sender.s_addr) {
      kept = hello;
      return;
    }
  }
  if (helloDetails.size() < kMaxHellosKept) helloDetails.push_back(hello);
}
