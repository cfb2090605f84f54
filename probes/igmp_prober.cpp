#include "probes/igmp_prober.h"

#include "net/address.h"
#include "net/listen_loop.h"

IgmpProber::IgmpProber(const in_addr& group, const net::PassLink& link)
    : net::RawSocket(IPPROTO_IGMP), group_(group), probeBegan_(std::chrono::steady_clock::now()) {
  bindToLink(link);
  enableReceiveAllIgmp();
}

int IgmpProber::sendReportV2(const in_addr& group) {
  return sendTo(igmpV2Report(group), net::socketAddress(group));
}

int IgmpProber::sendLeaveV2(const in_addr& group) {
  return sendTo(igmpV2Leave(group), net::socketAddress(net::addressOf(net::kAllRoutersGroup)));
}

int IgmpProber::sendReportV3(const in_addr& group, const in_addr& source, std::uint8_t recordType) {
  return sendTo(igmpV3Report(group, source, recordType),
                net::socketAddress(net::addressOf(net::kIgmpV3RoutersGroup)));
}

void IgmpProber::receiveQueries(std::int32_t timeOutMs, bool keepListening) {
  net::listenFor(*this, timeOutMs,
                 [&](std::span<const std::uint8_t> datagram, const sockaddr_in& /*sender*/) {
                   const auto query = readMembershipQuery(datagram, group_);
                   if (!query) return net::AfterDatagram::KeepListening;
                   if (const auto details = readQueryDetails(datagram);
                       details && seenQueries_.size() < kMaxQueriesKept) {
                     const std::chrono::duration<double, std::milli> since =
                         std::chrono::steady_clock::now() - probeBegan_;
                     seenQueries_.push_back(SeenQuery{*details, since.count()});
                   }
                   if (query->asksAboutGroup) sawQueryForGroup_ = true;
                   return keepListening ? net::AfterDatagram::KeepListening
                                        : net::AfterDatagram::StopListening;
                 });
}
