#include "probes/igmp_prober.h"

#include "net/address.h"
#include "net/listen_loop.h"
#include "probes/membership.h"

namespace {
const char* const kAllRouters = "224.0.0.2";
const char* const kAllIgmpV3Routers = "224.0.0.22";
}  // namespace

IgmpProber::IgmpProber(const sockaddr_in& group_, const net::PassLink& link)
    : net::RawSocket(IPPROTO_IGMP), group(group_), probeBegan(std::chrono::steady_clock::now()) {
  bindToLink(link);
  enableReceiveAllIgmp();
}

int IgmpProber::sendReportV2(const sockaddr_in& target) {
  const auto message = igmpV2Report(target.sin_addr);
  return sendTo(message, target);
}

int IgmpProber::sendLeaveV2(const sockaddr_in& target) {
  const auto message = igmpV2Leave(target.sin_addr);
  return sendTo(message, net::socketAddress(kAllRouters));
}

int IgmpProber::sendReportV3(const sockaddr_in& target, const sockaddr_in& source,
                             std::uint8_t recordType) {
  const auto message = igmpV3Report(target.sin_addr, source.sin_addr, recordType);
  return sendTo(message, net::socketAddress(kAllIgmpV3Routers));
}

void IgmpProber::joinGroup(const std::string& groupText) {
  requestMembership(*this, IP_ADD_MEMBERSHIP, groupText);
}

void IgmpProber::leaveGroup(const std::string& groupText) {
  requestMembership(*this, IP_DROP_MEMBERSHIP, groupText);
}

void IgmpProber::receiveQueries(std::int32_t timeOutMs, bool keepListening) {
  net::listenFor(*this, timeOutMs,
                 [&](std::span<const std::uint8_t> datagram, const sockaddr_in& /*sender*/) {
                   const auto query = readMembershipQuery(datagram, group.sin_addr);
                   if (!query) return net::AfterDatagram::KeepListening;
                   if (const auto details = readQueryDetails(datagram);
                       details && seenQueries.size() < kMaxQueriesKept) {
                     const std::chrono::duration<double, std::milli> since =
                         std::chrono::steady_clock::now() - probeBegan;
                     seenQueries.push_back(SeenQuery{*details, since.count()});
                   }
                   if (*query != QueryKind::None) lastQueryKind = *query;
                   return keepListening ? net::AfterDatagram::KeepListening
                                        : net::AfterDatagram::StopListening;
                 });
}
