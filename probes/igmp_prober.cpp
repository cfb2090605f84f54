#include "probes/igmp_prober.h"

#include "probes/probe_limits.h"

IgmpProber::IgmpProber(net::Network& network, const net::Address& group, const net::PassLink& link)
    : probeBegan_(network.now()),
      socket_(network.openCapturing(net::Family::V4, kIgmpProtocol, link, kMembershipQueryFilter)),
      group_(group) {}

void IgmpProber::sendReportV2(const net::Address& group) {
  socket_->sendTo(igmpV2Report(group), net::Endpoint{group, 0});
}

void IgmpProber::sendLeaveV2(const net::Address& group) {
  socket_->sendTo(igmpV2Leave(group), net::Endpoint{net::kAllRoutersGroup, 0});
}

void IgmpProber::sendReportV3(const net::Address& group, const net::Address& source,
                              std::uint8_t recordType) {
  socket_->sendTo(igmpV3Report(group, source, recordType),
                  net::Endpoint{net::kIgmpV3RoutersGroup, 0});
}

void IgmpProber::receiveQueries(std::int32_t timeOutMs, net::AfterDatagram afterEachQuery) {
  socket_->listen(timeOutMs, [&](const net::ReceivedDatagram& datagram) {
    const auto query = readMembershipQuery(datagram.bytes);
    if (!query) return net::AfterDatagram::KeepListening;
    if (seenQueries_.size() < kMaxKeptPerTest) {
      const std::chrono::duration<double, std::milli> since = datagram.arrival - probeBegan_;
      seenQueries_.push_back(ObservedQuery{*query, since.count()});
    }
    if (asksAbout(*query, group_)) sawQueryForGroup_ = true;
    return afterEachQuery;
  });
}
