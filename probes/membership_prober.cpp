#include "probes/membership_prober.h"

#include <array>

#include "net/packet/ip_datagram.h"
#include "probes/message_checksum.h"
#include "probes/mld_messages.h"
#include "probes/probe_limits.h"

namespace {

template <std::size_t N>
std::vector<std::uint8_t> bytesOf(const std::array<std::uint8_t, N>& message) {
  return {message.begin(), message.end()};
}

const MembershipProtocol kIgmp{
    net::Family::V4,
    [](const net::Address& group) { return bytesOf(igmpV2Report(group)); },
    [](const net::Address& group) { return bytesOf(igmpV2Leave(group)); },
    [](const net::Address& group, const net::Address& source, std::uint8_t recordType) {
      return bytesOf(igmpV3Report(group, source, recordType));
    },
    net::kAllRoutersGroup,
    net::kIgmpV3RoutersGroup,
    readMembershipQuery,
    membershipQueryCapture,
    3,
};

// MLD: a Done goes to ff02::2 (RFC 2710 3), an MLDv2 Report to ff02::16.
const MembershipProtocol kMld{
    net::Family::V6,
    [](const net::Address& group) { return bytesOf(mldV1Report(group)); },
    [](const net::Address& group) { return bytesOf(mldV1Done(group)); },
    [](const net::Address& group, const net::Address& source, std::uint8_t recordType) {
      return bytesOf(mldV2Report(group, source, recordType));
    },
    net::allRoutersGroup(net::Family::V6),
    net::membershipRoutersGroup(net::Family::V6),
    readMldQuery,
    mldQueryCapture,
    2,
};

}  // namespace

const MembershipProtocol& membershipProtocol(net::Family family) {
  return family == net::Family::V4 ? kIgmp : kMld;
}

MembershipProber::MembershipProber(net::Network& network, net::Family family,
                                   const net::Address& group, int lowestVersion,
                                   const net::PassLink& link)
    : protocol_(membershipProtocol(family)),
      probeBegan_(network.now()),
      socket_(network.openCapturing(protocol_.captureRequest(), link)),
      group_(group),
      lowestVersion_(lowestVersion),
      scope_(link.chosen ? link.chosen->index : 0U) {}

void MembershipProber::send(std::span<const std::uint8_t> message,
                            const net::Address& destination) {
  socket_->sendTo(message, destinationOf(destination));
}

net::Endpoint MembershipProber::destinationOf(const net::Address& address) const {
  // A link-local IPv6 group names the interface it is meant on.
  return net::Endpoint{address.isV4() ? address : address.withScope(scope_), 0};
}

void MembershipProber::owe(std::span<const std::uint8_t> message, const net::Address& destination) {
  if (!leaveWithheld_) socket_->sendIfInterrupted(message, destinationOf(destination));
}

void MembershipProber::sendAnySourceReport(const net::Address& group) {
  send(protocol_.anySourceReport(group), group);
  owe(protocol_.anySourceLeave(group), protocol_.leaveDestination);
}

void MembershipProber::sendAnySourceLeave(const net::Address& group) {
  send(protocol_.anySourceLeave(group), protocol_.leaveDestination);
  socket_->cancelSendIfInterrupted();
}

void MembershipProber::sendSourceReport(const net::Address& group, const net::Address& source,
                                        std::uint8_t recordType) {
  send(protocol_.sourceReport(group, source, recordType), protocol_.sourceReportDestination);
  if (recordType == kAllowNewSources) {
    owe(protocol_.sourceReport(group, source, kBlockOldSources), protocol_.sourceReportDestination);
  } else {
    socket_->cancelSendIfInterrupted();
  }
}

void MembershipProber::withholdLeave() {
  leaveWithheld_ = true;
  socket_->cancelSendIfInterrupted();
}

void MembershipProber::receiveQueries(std::int32_t timeOutMs, net::AfterDatagram afterEachQuery) {
  socket_->listen(timeOutMs, [&](const net::ReceivedDatagram& datagram) {
    const auto query = protocol_.readQuery(datagram.bytes);
    if (!query) return net::AfterDatagram::KeepListening;
    if (!messageChecksumHolds(datagram.bytes)) {
      ++corruptQueries_;
      return net::AfterDatagram::KeepListening;
    }
    if (seenQueries_.size() < kMaxQueriesKept) {
      const std::chrono::duration<double, std::milli> since = datagram.arrival - probeBegan_;
      seenQueries_.push_back(ObservedQuery{*query, since.count()});
    } else {
      ++unlistedQueries_;
    }
    if (asksAbout(*query, group_) && query->version >= lowestVersion_) sawQueryForGroup_ = true;
    return afterEachQuery;
  });
}

net::CaptureRequest generalQueryCapture(net::Family family) {
  net::CaptureRequest request = membershipProtocol(family).captureRequest();
  request.destination = net::Endpoint{net::allHostsGroup(family), 0};
  return request;
}

GeneralQueryWatch::GeneralQueryWatch(net::Network& network, net::Family family,
                                     const net::PassLink& link)
    : network_(network),
      protocol_(membershipProtocol(family)),
      began_(network.now()),
      socket_(network.openCapturing(generalQueryCapture(family), link)) {}

void GeneralQueryWatch::collect() {
  socket_->drain([&](const net::ReceivedDatagram& datagram) {
    const auto query = protocol_.readQuery(datagram.bytes);
    // Where the platform cannot filter, the rest of the family's messages
    // come too; a group's query answers someone's leave and says less.
    if (!query || !query->group.isUnspecified() || !messageChecksumHolds(datagram.bytes)) {
      return net::AfterDatagram::KeepListening;
    }
    if (queries_.size() < kMaxQueriesKept) {
      const std::chrono::duration<double, std::milli> since = datagram.arrival - began_;
      queries_.push_back(ObservedQuery{*query, since.count()});
    } else {
      ++unlisted_;
    }
    return net::AfterDatagram::KeepListening;
  });
}

std::chrono::milliseconds GeneralQueryWatch::watched() const {
  return std::chrono::duration_cast<std::chrono::milliseconds>(network_.now() - began_);
}
