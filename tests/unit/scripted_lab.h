// The lab network in script form: a first-hop router that answers the
// battery the way FRR does in the real lab, and beacons that reach the host,
// built as the datagrams a capture would hand over. Each part can be left out.
#pragma once

#include <cstdint>
#include <vector>

#include "app/pass_setup.h"
#include "net/packet/checksum.h"
#include "net/process.h"
#include "probes/icmp_echo.h"
#include "tests/unit/scripted_network.h"

namespace testing_support {

inline const net::Address kLabHost = *net::Address::parseV4("10.0.1.2");
inline const net::Address kLabRouter = *net::Address::parseV4("10.0.1.1");
inline const net::Address kLabBeaconSource = *net::Address::parseV4("198.51.100.20");
inline const net::Address kLabAsmGroup = *net::Address::parseV4("233.4.200.19");
inline const net::Address kLabSsmGroup = *net::Address::parseV4("232.64.133.120");
inline constexpr unsigned int kLabInterfaceIndex = 2;

// The pass's setup on the lab host's eth0, with the default beacons.
inline PassSetup labSetup() {
  PassSetup setup;
  setup.link.chosen =
      net::LinkInterface{"eth0", kLabInterfaceIndex, kLabHost, net::ChosenBy::HostName, 24};
  setup.asmGroup = options::AsmGroup{kLabAsmGroup, 10002};
  setup.ssmChannel = options::SsmChannel{kLabBeaconSource, kLabSsmGroup, 8020};
  return setup;
}

// An IPv4 datagram as a raw socket hands it over: a 20-byte header (24 with
// `routerAlert`), then `payload`.
inline std::vector<std::uint8_t> ipv4(std::uint8_t protocol, const net::Address& source,
                                      const net::Address& destination,
                                      const std::vector<std::uint8_t>& payload,
                                      bool routerAlert = false) {
  const std::size_t header = routerAlert ? 24 : 20;
  std::vector<std::uint8_t> datagram(header, 0);
  datagram[0] = static_cast<std::uint8_t>(0x40U | (header / 4));
  const std::size_t total = header + payload.size();
  datagram[2] = static_cast<std::uint8_t>(total >> 8U);
  datagram[3] = static_cast<std::uint8_t>(total & 0xFFU);
  datagram[8] = 1;
  datagram[9] = protocol;
  std::copy(source.bytes().begin(), source.bytes().end(), datagram.begin() + 12);
  std::copy(destination.bytes().begin(), destination.bytes().end(), datagram.begin() + 16);
  if (routerAlert) {
    datagram[20] = 0x94;
    datagram[21] = 0x04;
  }
  datagram.insert(datagram.end(), payload.begin(), payload.end());
  return datagram;
}

// A message with its Internet checksum at `offset`.
inline std::vector<std::uint8_t> withChecksum(std::vector<std::uint8_t> message,
                                              std::size_t offset = 2) {
  const std::uint16_t sum = net::internetChecksum(message);
  message[offset] = static_cast<std::uint8_t>(sum >> 8U);
  message[offset + 1] = static_cast<std::uint8_t>(sum & 0xFFU);
  return message;
}

// An IGMPv3 query from `querier` (RFC 3376 4.1): general when `group` is
// 0.0.0.0, with one source when `source` is given.
inline std::vector<std::uint8_t> igmpV3Query(const net::Address& querier, const net::Address& group,
                                             const std::optional<net::Address>& source = {}) {
  std::vector<std::uint8_t> query{0x11, 10, 0, 0};
  query.insert(query.end(), group.bytes().begin(), group.bytes().end());
  query.insert(query.end(), {0x02, 125, 0, static_cast<std::uint8_t>(source ? 1 : 0)});
  if (source) query.insert(query.end(), source->bytes().begin(), source->bytes().end());
  const net::Address to = group.isUnspecified() ? net::Address::v4(0xE0000001U) : group;
  return ipv4(2, querier, to, withChecksum(query), true);
}

// An IGMPv2 query (8 bytes, Max Resp in tenths of a second).
inline std::vector<std::uint8_t> igmpV2Query(const net::Address& querier,
                                             const net::Address& group) {
  std::vector<std::uint8_t> query{0x11, 100, 0, 0};
  query.insert(query.end(), group.bytes().begin(), group.bytes().end());
  const net::Address to = group.isUnspecified() ? net::Address::v4(0xE0000001U) : group;
  return ipv4(2, querier, to, withChecksum(query), true);
}

// A PIM Hello with `holdtime` (105 s), DR Priority 1 and `generationId`.
inline std::vector<std::uint8_t> pimHelloFrom(const net::Address& sender,
                                              std::uint32_t generationId = 0x0BADCAFE,
                                              std::uint16_t holdtime = 105) {
  std::vector<std::uint8_t> hello{0x20,
                                  0,
                                  0,
                                  0,
                                  0,
                                  1,
                                  0,
                                  2,
                                  static_cast<std::uint8_t>(holdtime >> 8U),
                                  static_cast<std::uint8_t>(holdtime),
                                  0,
                                  19,
                                  0,
                                  4,
                                  0,
                                  0,
                                  0,
                                  1,
                                  0,
                                  20,
                                  0,
                                  4,
                                  static_cast<std::uint8_t>(generationId >> 24U),
                                  static_cast<std::uint8_t>(generationId >> 16U),
                                  static_cast<std::uint8_t>(generationId >> 8U),
                                  static_cast<std::uint8_t>(generationId)};
  return ipv4(103, sender, net::kAllPimRoutersGroup, withChecksum(hello));
}

// A Candidate-RP-Advertisement (type 8) from `rp`, with no groups.
inline std::vector<std::uint8_t> candidateRpAdvertisement(const net::Address& rp) {
  std::vector<std::uint8_t> advertisement{0x28, 0, 0, 0, 0, 0, 0, 150, 1, 0};
  advertisement.insert(advertisement.end(), rp.bytes().begin(), rp.bytes().end());
  return ipv4(103, rp, kLabHost, withChecksum(advertisement));
}

// The echo reply to an echo request (as the pinger sent it, ICMP only).
inline std::vector<std::uint8_t> echoReplyTo(std::span<const std::uint8_t> request,
                                             const net::Address& from) {
  std::vector<std::uint8_t> reply(request.begin(), request.end());
  reply[0] = 0;
  reply[2] = 0;
  reply[3] = 0;
  return ipv4(1, from, kLabHost, withChecksum(reply));
}

// Datagrams from `sender` every 100 ms while a 2 s window lasts, as the lab's
// beacons send them.
inline std::vector<Arrival> beaconDatagrams(const net::Address& sender, int count = 20) {
  std::vector<Arrival> arrivals;
  for (int i = 0; i < count; ++i) {
    arrivals.push_back(
        Arrival{{0x80, 0x60}, net::Endpoint{sender, 5004}, milliseconds(50 + 100 * i)});
  }
  return arrivals;
}

// A beacon datagram as a capture of the link hands it over: IPv4 and UDP
// headers, to `group` and `port` from `sender`, with `ttl`.
inline std::vector<std::uint8_t> beaconOnLink(const net::Address& sender, const net::Address& group,
                                              std::uint16_t port, std::uint8_t ttl = 15) {
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
  auto datagram = ipv4(17, sender, group, udp);
  datagram[8] = ttl;
  return datagram;
}

// Datagrams of both beacons on the link, every 100 ms while a 2 s window
// lasts: the beacon captures' filters pick their own.
inline std::vector<Arrival> beaconsOnLink(const net::Address& sender, std::uint8_t ttl = 15) {
  std::vector<Arrival> arrivals;
  for (int i = 0; i < 20; ++i) {
    for (const auto& [group, port] : {std::pair{kLabAsmGroup, std::uint16_t{10002}},
                                      std::pair{kLabSsmGroup, std::uint16_t{8020}}}) {
      arrivals.push_back(Arrival{beaconOnLink(sender, group, port, ttl), net::Endpoint{sender, 0},
                                 milliseconds(50 + 100 * i)});
    }
  }
  return arrivals;
}

struct ScriptedLab {
  bool beacons = true;
  bool answersPings = true;
  // The router answers the pings, but the host's firewall drops the replies
  // before the pinger's socket: only a capture of the link sees them.
  bool firewallDropsReplies = false;
  bool igmp = true;
  bool pim = true;

  void install(ScriptedNetwork& network) const {
    if (beacons) {
      network.scripts[SocketKind::Receiver].arrivals = beaconDatagrams(kLabBeaconSource);
      network.scripts[SocketKind::BeaconCapture].arrivals = beaconsOnLink(kLabBeaconSource);
    }
    if (firewallDropsReplies) {
      const auto request = echoRequest(echoIdentifier(net::processId()), 0);
      network.scripts[SocketKind::BeaconCapture].arrivals.push_back(
          Arrival{echoReplyTo(request, kLabRouter), {kLabRouter, 0}, milliseconds(1)});
    }
    if (answersPings && !firewallDropsReplies) {
      network.scripts[SocketKind::Pinger].replies = [](std::span<const std::uint8_t> request,
                                                       const net::Endpoint&) {
        return std::vector<Arrival>{
            Arrival{echoReplyTo(request, kLabRouter), {kLabRouter, 0}, milliseconds(1)}};
      };
    }
    if (igmp) {
      network.scripts[SocketKind::IgmpCapture].replies = [](std::span<const std::uint8_t> sent,
                                                            const net::Endpoint&) {
        std::vector<Arrival> queries;
        // A leave and a BLOCK each get a query at once and another a second later.
        if (sent[0] == 0x17) {
          const net::Address group = *net::Address::fromBytes(sent.subspan(4, 4));
          for (const int at : {4, 1004}) {
            queries.push_back(
                Arrival{igmpV3Query(kLabRouter, group), {kLabRouter, 0}, milliseconds(at)});
          }
        }
        if (sent[0] == 0x22 && sent[8] == 6) {
          const net::Address group = *net::Address::fromBytes(sent.subspan(12, 4));
          const net::Address source = *net::Address::fromBytes(sent.subspan(16, 4));
          for (const int at : {5, 1005}) {
            queries.push_back(
                Arrival{igmpV3Query(kLabRouter, group, source), {kLabRouter, 0}, milliseconds(at)});
          }
        }
        return queries;
      };
    }
    if (pim) {
      network.scripts[SocketKind::PimCapture].replies = [](std::span<const std::uint8_t>,
                                                           const net::Endpoint&) {
        return std::vector<Arrival>{
            Arrival{pimHelloFrom(kLabRouter), {kLabRouter, 0}, milliseconds(3)}};
      };
    }
  }
};

}  // namespace testing_support
