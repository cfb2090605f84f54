// The IPv6 lab in script form: a first-hop router that answers the IPv6
// battery the way pim6d does in the real lab (MLDv2 or MLDv1 queries, echo
// replies from its link-local address, PIMv6 Hellos), and beacons from the
// channel's source, built as the datagrams the sockets and captures hand over
// (IPv6 header first). Each part can be left out.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "tests/unit/scripted_lab.h"

namespace testing_support {

inline const net::Address kLab6Host = *net::Address::parseV6("fe80::2");
inline const net::Address kLab6Router = *net::Address::parseV6("fe80::1");
inline const net::Address kLab6BeaconSource = *net::Address::parseV6("2001:db8::20");
inline const net::Address kLab6AsmGroup = *net::Address::parseV6("ff3e:20:2001:db8::19");
inline const net::Address kLab6SsmGroup = *net::Address::parseV6("ff3e::120");
inline const net::Address kAllNodes6 = *net::Address::parseV6("ff02::1");
inline constexpr std::uint8_t kLab6BeaconHopLimit = 16;

// The IPv6 pass's setup on the lab host's eth0: its link-local address in
// the interface's zone, as the host's own lists give it.
inline PassSetup labSetup6() {
  PassSetup setup;
  setup.family = net::Family::V6;
  setup.link.chosen =
      net::LinkInterface{"eth0", kLabInterfaceIndex, kLab6Host.withScope(kLabInterfaceIndex),
                         net::ChosenBy::HostName, 64};
  setup.asmGroup = options::AsmGroup{kLab6AsmGroup, 10002};
  setup.ssmChannel = options::SsmChannel{kLab6BeaconSource, kLab6SsmGroup, 8020};
  return setup;
}

// An IPv6 datagram as a capture hands it over: the 40-byte header, with a
// hop-by-hop header carrying the MLD Router Alert when `routerAlert`, then
// `payload` of protocol `nextHeader`.
inline std::vector<std::uint8_t> ipv6(std::uint8_t nextHeader, const net::Address& source,
                                      const net::Address& destination,
                                      const std::vector<std::uint8_t>& payload,
                                      bool routerAlert = false, std::uint8_t hopLimit = 1) {
  std::vector<std::uint8_t> hopByHop;
  if (routerAlert) hopByHop = {nextHeader, 0, 0x05, 0x02, 0x00, 0x00, 0x01, 0x00};
  const std::size_t length = hopByHop.size() + payload.size();
  std::vector<std::uint8_t> datagram{0x60,
                                     0,
                                     0,
                                     0,
                                     static_cast<std::uint8_t>(length >> 8U),
                                     static_cast<std::uint8_t>(length & 0xFFU),
                                     routerAlert ? std::uint8_t{0} : nextHeader,
                                     hopLimit};
  datagram.insert(datagram.end(), source.bytes().begin(), source.bytes().end());
  datagram.insert(datagram.end(), destination.bytes().begin(), destination.bytes().end());
  datagram.insert(datagram.end(), hopByHop.begin(), hopByHop.end());
  datagram.insert(datagram.end(), payload.begin(), payload.end());
  return datagram;
}

// A message with its checksum behind the IPv6 pseudo-header at `offset`.
inline std::vector<std::uint8_t> withChecksum6(std::vector<std::uint8_t> message,
                                               const net::Address& source,
                                               const net::Address& destination,
                                               std::uint8_t protocol, std::size_t offset = 2) {
  message[offset] = 0;
  message[offset + 1] = 0;
  const std::uint16_t sum =
      net::internetChecksum(message, net::PseudoHeader{source, destination, protocol});
  message[offset] = static_cast<std::uint8_t>(sum >> 8U);
  message[offset + 1] = static_cast<std::uint8_t>(sum & 0xFFU);
  return message;
}

// A Multicast Listener Query from `querier` (RFC 2710 3, RFC 3810 5.1),
// Maximum Response 10 s: general when `group` is ::; MLDv2 with QRV 2, QQIC
// 125 and `sources`, or MLDv1's 24 bytes when `version` is 1.
inline std::vector<std::uint8_t> mldQuery(const net::Address& querier, const net::Address& group,
                                          int version = 2,
                                          const std::vector<net::Address>& sources = {}) {
  std::vector<std::uint8_t> query{130, 0, 0, 0, 0x27, 0x10, 0, 0};
  query.insert(query.end(), group.bytes().begin(), group.bytes().end());
  if (version == 2) {
    query.insert(query.end(), {0x02, 125, 0, static_cast<std::uint8_t>(sources.size())});
    for (const net::Address& source : sources) {
      query.insert(query.end(), source.bytes().begin(), source.bytes().end());
    }
  }
  const net::Address to = group.isUnspecified() ? kAllNodes6 : group;
  return ipv6(net::kIcmpv6Protocol, querier, to,
              withChecksum6(query, querier, to, net::kIcmpv6Protocol), true);
}

// The echo reply to an ICMPv6 echo request as the pinger sent it (the
// message alone), from `from` to the lab host.
inline std::vector<std::uint8_t> echoReply6To(std::span<const std::uint8_t> request,
                                              const net::Address& from) {
  std::vector<std::uint8_t> reply(request.begin(), request.end());
  reply[0] = 129;
  return ipv6(net::kIcmpv6Protocol, from, kLab6Host,
              withChecksum6(reply, from, kLab6Host, net::kIcmpv6Protocol), false, 64);
}

// A PIMv6 Hello to ff02::d with Holdtime 105, DR Priority 1 and `generationId`.
inline std::vector<std::uint8_t> pimHello6From(const net::Address& sender,
                                               std::uint32_t generationId = 0x0BADCAFE) {
  // The IPv4 Hello's message, behind an IPv6 header and pseudo-header checksum.
  const auto v4 = pimHelloFrom(kLabRouter, generationId);
  const std::vector<std::uint8_t> hello(v4.begin() + 20, v4.end());
  const net::Address allPimRouters = net::allPimRoutersGroup(net::Family::V6);
  return ipv6(103, sender, allPimRouters, withChecksum6(hello, sender, allPimRouters, 103));
}

// A beacon datagram as a capture of the link hands it over: IPv6 and UDP
// headers, to `group` and `port` from `sender`, with `hopLimit`.
inline std::vector<std::uint8_t> beaconOnLink6(const net::Address& sender,
                                               const net::Address& group, std::uint16_t port,
                                               std::uint8_t hopLimit = kLab6BeaconHopLimit) {
  const std::vector<std::uint8_t> udp{0x13,
                                      0x8C,
                                      static_cast<std::uint8_t>(port >> 8U),
                                      static_cast<std::uint8_t>(port & 0xFFU),
                                      0,
                                      10,
                                      0,
                                      0,
                                      0x80,
                                      0x60};
  return ipv6(17, sender, group, udp, false, hopLimit);
}

// Datagrams of both IPv6 beacons on the link, every 100 ms while a 2 s
// window lasts: the beacon captures' filters pick their own.
inline std::vector<Arrival> beaconsOnLink6(const net::Address& sender) {
  std::vector<Arrival> arrivals;
  for (int i = 0; i < 20; ++i) {
    for (const auto& [group, port] : {std::pair{kLab6AsmGroup, std::uint16_t{10002}},
                                      std::pair{kLab6SsmGroup, std::uint16_t{8020}}}) {
      arrivals.push_back(Arrival{beaconOnLink6(sender, group, port), net::Endpoint{sender, 0},
                                 milliseconds(50 + 100 * i)});
    }
  }
  return arrivals;
}

struct ScriptedLab6 {
  // The beacons reach the host's sockets and its link.
  bool beacons = true;
  // The beacons reach the link, but no socket of the host takes them.
  bool beaconsOnLinkOnly = false;
  bool answersPings = true;
  // The MLD version the router queries in; 0 for no querier on the link.
  int mldVersion = 2;
  bool pim = true;

  void install(ScriptedNetwork& network) const {
    if (beacons || beaconsOnLinkOnly) {
      network.scripts[SocketKind::BeaconCapture].arrivals = beaconsOnLink6(kLab6BeaconSource);
    }
    if (beacons && !beaconsOnLinkOnly) {
      network.scripts[SocketKind::Receiver].arrivals = beaconDatagrams(kLab6BeaconSource);
    }
    if (answersPings) {
      network.scripts[SocketKind::Pinger].replies = [](std::span<const std::uint8_t> request,
                                                       const net::Endpoint&) {
        return std::vector<Arrival>{
            Arrival{echoReply6To(request, kLab6Router), {kLab6Router, 0}, milliseconds(1)}};
      };
    }
    if (mldVersion != 0) {
      const int version = mldVersion;
      network.scripts[SocketKind::IgmpCapture].replies =
          [version](std::span<const std::uint8_t> sent, const net::Endpoint&) {
            std::vector<Arrival> queries;
            // A Done gets a query for its group at once and another a second
            // later; an MLDv2 router answers a BLOCK likewise for the channel.
            if (sent[0] == 132) {
              const net::Address group = *net::Address::fromBytes(sent.subspan(8, 16));
              for (const int at : {4, 1004}) {
                queries.push_back(Arrival{
                    mldQuery(kLab6Router, group, version), {kLab6Router, 0}, milliseconds(at)});
              }
            }
            if (version == 2 && sent[0] == 143 && sent[8] == 6) {
              const net::Address group = *net::Address::fromBytes(sent.subspan(12, 16));
              const net::Address source = *net::Address::fromBytes(sent.subspan(28, 16));
              for (const int at : {5, 1005}) {
                queries.push_back(Arrival{
                    mldQuery(kLab6Router, group, 2, {source}), {kLab6Router, 0}, milliseconds(at)});
              }
            }
            return queries;
          };
    }
    if (pim) {
      network.scripts[SocketKind::PimCapture].replies = [](std::span<const std::uint8_t>,
                                                           const net::Endpoint&) {
        return std::vector<Arrival>{
            Arrival{pimHello6From(kLab6Router), {kLab6Router, 0}, milliseconds(3)}};
      };
    }
  }
};

}  // namespace testing_support
