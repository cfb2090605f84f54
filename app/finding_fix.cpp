#include "app/finding_fix.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <string>

namespace {

using Text = std::string;
using Fix = std::optional<std::string>;

Text number(std::int64_t value) { return std::to_string(value); }

// 260 s, 377.5 s: as the sentence writes the seconds the evidence keeps.
Text seconds(double value) {
  const auto milliseconds = static_cast<std::uint64_t>(std::llround(value * 1000));
  Text text = std::to_string(milliseconds / 1000);
  if (milliseconds % 1000 != 0) text += "." + std::to_string((milliseconds % 1000) / 100);
  return text + " s";
}

Text address(const Evidence& evidence, std::string_view name) {
  return evidence.address(name).toString();
}

// "a", "a and b", "a, b and c".
Text joined(const EvidenceList& addresses) {
  Text text;
  for (std::size_t i = 0; i < addresses.size(); ++i) {
    if (i > 0) text += i + 1 == addresses.size() ? " and " : ", ";
    text += addresses[i].as<net::Address>().toString();
  }
  return text;
}

bool ipv6(const Evidence& evidence) { return evidence.text("family") == "ipv6"; }

// The router's interface command that turns the protocol on, as FRR and most
// router software spell it.
Text enableCommand(const Evidence& e) { return ipv6(e) ? "`ipv6 mld`" : "`ip igmp`"; }

// The version that serves source-specific joins, and the command that sets it.
Text newestVersion(const Evidence& e) { return ipv6(e) ? "MLDv2" : "IGMPv3"; }
Text versionCommand(const Evidence& e) {
  return ipv6(e) ? "`ipv6 mld version 2`" : "`ip igmp version 3`";
}

// A sysctl put back to its default, now and across reboots.
Text sysctlToDefault(const Evidence& e) {
  const Text& setting = e.text("setting");
  return "Set " + setting + " to 0, the default: `sysctl -w " + setting +
         "=0`, and remove it from /etc/sysctl.conf or /etc/sysctl.d/ so that a reboot keeps it";
}

Fix noQuerier(const Evidence& e) {
  const Text protocol = ipv6(e) ? "MLD" : "IGMP";
  return "Watch the link for longer than its query interval (`corvanite --watch -i " +
         e.text("interface") + (ipv6(e) ? " -6`" : "`") +
         ", 300 s, which names the cause if a beacon stops); if no query comes, enable an " +
         protocol + " querier on the VLAN of " + e.text("interface") + ": " + enableCommand(e) +
         " on the router's interface, or the snooping switch's querier (on a Linux bridge, "
         "`mcast_querier 1`).";
}

Fix oldQuerier(const Evidence& e) {
  return "Set " + address(e, "address") + " to " + newestVersion(e) + ": " + versionCommand(e) +
         " on its interface (the default of most routers: look for what lowered it).";
}

Fix multipleQueriers(const Evidence& e) {
  EvidenceList others = e.list("sources");
  const net::Address& elected = e.address("elected");
  std::erase_if(others,
                [&](const EvidenceValue& source) { return source.as<net::Address>() == elected; });
  const Text protocol = ipv6(e) ? "MLD" : "IGMP";
  const EvidenceList& versions = e.list("versions");
  const bool differ = std::any_of(versions.begin(), versions.end(), [&](const EvidenceValue& v) {
    return v.as<std::int64_t>() != versions.front().as<std::int64_t>();
  });
  if (differ) {
    return "Set every querier of this link to one version, " + newestVersion(e) + " (" +
           versionCommand(e) + " on a router, " +
           (ipv6(e) ? "`mcast_mld_version 2`" : "`mcast_igmp_version 3`") +
           " on a Linux bridge): then " + joined(others) + " hear " + elected.toString() +
           "'s queries and fall silent; where one should not query this link at all, turn its "
           "querier off.";
  }
  return "Make " + joined(others) + " hear " + elected.toString() +
         "'s queries and fall silent: the same VLAN, the same " + protocol +
         " version, and no filter between them; where one should not query this link at all, "
         "turn its querier off.";
}

Fix switchQuerier(const Evidence& e) {
  if (!e.list("router_queriers").empty()) {
    return Text(
               "Turn the snooping switch's querier off on this VLAN (on a Linux bridge, "
               "`mcast_querier 0`): ") +
           joined(e.list("router_queriers")) + " queries the link already" +
           (ipv6(e) ? ", and hosts discard queries from ::."
                    : ", and one querier keeps the hosts on one IGMP version.");
  }
  if (ipv6(e)) {
    return "Enable MLD on the router's interface (`ipv6 mld`), or give the switch's querier a "
           "link-local source: a Linux bridge queries from its own fe80:: address when it "
           "has one.";
  }
  return "Enable IGMP on the router's interface (`ip igmp`) if traffic from beyond this link "
         "is wanted: a switch's querier keeps the snooping table alive, but no router joins "
         "the groups upstream.";
}

Fix membershipInterval(const Evidence& e) {
  const Text command = ipv6(e) ? "`ipv6 mld query-interval`" : "`ip igmp query-interval`";
  return "Lower the query interval of " + address(e, "address") + " (" + command + ", now " +
         number(e.integer("query_interval_s")) + " s) so that it and the response time stay " +
         "under " + number(e.integer("snooping_timeout_s")) +
         " s, or raise the snooping switches' group timeout above " +
         seconds(e.number("report_gap_s")) + ".";
}

Fix queryOffSubnet(const Evidence& e) {
  const EvidenceList& subnets = e.list("subnets");
  Text subnetText;
  for (std::size_t i = 0; i < subnets.size(); ++i) {
    if (i > 0) subnetText += i + 1 == subnets.size() ? " or " : ", ";
    subnetText += subnets[i].as<std::string>();
  }
  return "Give " + joined(e.list("addresses")) + " an address in " + subnetText +
         " to query from (a router queries from its interface's primary address), or turn its "
         "querier off where the link's router queries; if " +
         e.text("interface") + " is in the wrong subnet, readdress it.";
}

Fix queryNotLinkLocal(const Evidence& e) {
  const bool several = e.list("addresses").size() > 1;
  return "Have " + joined(e.list("addresses")) + " query from " +
         (several ? "their link-local (fe80::) addresses" : "its link-local (fe80::) address") +
         ": routers do so on their own, so look for a switch's querier set to a global source "
         "address.";
}

// A forced version is a problem when it is an older one (the host cannot
// source-filter) or, at the newest, when an older querier is on the link (the
// host no longer answers it).
Fix forcedVersion(const Evidence& e, int newest) {
  if (e.integer("value") < newest) return sysctlToDefault(e) + ".";
  return sysctlToDefault(e) + " so the host answers the older querier; better, move that " +
         "querier to " + newestVersion(e) + " (" + versionCommand(e) + ").";
}

Fix compatibilityMode(const Evidence& e) {
  return "Move every querier of this link that speaks IGMPv" + number(e.integer("mode")) +
         " to IGMPv3: `ip igmp version 3` on a router, `mcast_igmp_version 3` on a Linux "
         "bridge, the querier version on a switch. The host returns to IGMPv3 by itself a few "
         "minutes after the last old query.";
}

Fix hostDropsBeacon(const Evidence& e) {
  // The senders of what reverse-path filtering dropped, each once.
  EvidenceList filteredSenders;
  Text dropped;
  for (const EvidenceValue& item : e.list("beacons")) {
    const Evidence& beacon = item.as<Evidence>();
    if (beacon.text("cause") == "rp_filter") {
      for (const EvidenceValue& sender : beacon.list("senders")) {
        const bool known = std::any_of(
            filteredSenders.begin(), filteredSenders.end(), [&](const EvidenceValue& seen) {
              return seen.as<net::Address>() == sender.as<net::Address>();
            });
        if (!known) filteredSenders.push_back(sender);
      }
    } else {
      if (!dropped.empty()) dropped += " and ";
      dropped += address(beacon, "group") + " port " + number(beacon.integer("port"));
    }
  }
  Text fix;
  if (!filteredSenders.empty()) {
    const Text senders = joined(filteredSenders);
    const Evidence& filter = e.record("rp_filter");
    // Loose filtering drops only what no route at all leads back to.
    fix = filter.integer("value") >= 2
              ? "Give the host a route back to " + senders + ": loose reverse-path filtering " +
                    "accepts any."
              : "Loosen reverse-path filtering (`sysctl -w " + filter.text("setting") +
                    "=2`: any route back will do), or make the route to " + senders + " leave by " +
                    e.text("interface") + ".";
  }
  if (!dropped.empty()) {
    if (!fix.empty()) fix += ' ';
    fix += "Find what drops UDP to " + dropped + " on the host, its firewall first (" +
           (ipv6(e) ? "`nft list ruleset`, `ip6tables -S`" : "`nft list ruleset`, `iptables -S`") +
           "), and let it in.";
  }
  return fix;
}

Fix hostIsRouter(const Evidence& e) {
  return "Run the tests from a host of this link that does not route multicast, or stop the "
         "multicast routing daemon on this one while they run (" +
         e.text("setting") + " is not 0 while one runs).";
}

Fix beaconTtlLow(const Evidence& e) {
  const Text limit = ipv6(e) ? "hop limit" : "TTL";
  return "Raise the beacon sender's multicast " + limit + " (" +
         (ipv6(e) ? "IPV6_MULTICAST_HOPS" : "IP_MULTICAST_TTL") +
         ", or the sending program's own setting) to at least the hops to its farthest "
         "receiver plus one.";
}

// The neighbours a finding lists, by address.
Text neighbourAddresses(const Evidence& e) {
  EvidenceList addresses;
  for (const EvidenceValue& item : e.list("neighbours")) {
    addresses.emplace_back(item.as<Evidence>().address("address"));
  }
  return joined(addresses);
}

Fix pimNeighbourRestarted(const Evidence& e) {
  return "Look in the log of " + neighbourAddresses(e) +
         " for a restart of its PIM process or a flapping interface, and mend that.";
}

Fix pimHoldtime(const Evidence& e) {
  return "Set the Hello holdtime of " + neighbourAddresses(e) +
         " to 3.5 x its Hello period, or leave it at the default (105 s for a 30 s period; "
         "FRR: `ip pim hello PERIOD HOLDTIME` on the interface).";
}

Fix droppedReplies(const Evidence& e) {
  const Text echoReply = ipv6(e) ? "icmpv6 type echo-reply" : "icmp type echo-reply";
  return "On this host, accept echo replies ahead of the firewall's `ct state invalid drop` "
         "rule (nftables: `" +
         echoReply + " accept` in the input chain, before it).";
}

Fix oldVersionQuery(const Evidence& e) {
  const bool several = e.list("queriers").size() > 1;
  return Text("Set ") + (several ? "each of these queriers" : "that querier") + " to " +
         newestVersion(e) + " (" + versionCommand(e) + " on a router, " +
         (ipv6(e) ? "`mcast_mld_version 2`" : "`mcast_igmp_version 3`") +
         " on a Linux bridge, the querier version on a switch), or turn it off where a router "
         "queries the link.";
}

Fix querierSilentToProbe(const Evidence& e) {
  return "If " + address(e, "address") +
         " is meant to drop groups at once (immediate leave, explicit tracking), nothing needs "
         "mending. Otherwise look on its interface for an access list on the test's groups" +
         (ipv6(e) ? Text("") : Text(" or a Router Alert requirement")) +
         ", and between host and router for a switch that proxies " + (ipv6(e) ? "MLD" : "IGMP") +
         "; a watch of the link over some minutes shows whether groups stay joined.";
}

Fix snoopingDropsV3(const Evidence& e) {
  const Text version = ipv6(e) ? "MLDv2" : "IGMPv3";
  return "On the switches between " + e.text("interface") + " and " + address(e, "address") +
         ", let " + version + " reports through: a firmware that snoops " + version +
         ", or snooping off on this VLAN.";
}

}  // namespace

std::optional<std::string> findingFix(const Finding& finding) {
  // Information says what the link is; there is nothing to mend.
  if (finding.severity == Severity::Info) return std::nullopt;
  const Evidence& e = finding.evidence;
  switch (finding.id) {
    case FindingId::NoQuerier:
      return noQuerier(e);
    case FindingId::QuerierOldVersion:
      return oldQuerier(e);
    case FindingId::MultipleQueriers:
      return multipleQueriers(e);
    case FindingId::SwitchQuerier:
      return switchQuerier(e);
    case FindingId::MembershipInterval:
      return membershipInterval(e);
    case FindingId::QueryOffSubnet:
      return queryOffSubnet(e);
    case FindingId::QueryNotLinkLocal:
      return queryNotLinkLocal(e);
    case FindingId::HostIgmpVersionForced:
      return forcedVersion(e, 3);
    case FindingId::HostIgmpCompatMode:
      return compatibilityMode(e);
    case FindingId::HostMldVersionForced:
      return forcedVersion(e, 2);
    case FindingId::HostDropsBeacon:
      return hostDropsBeacon(e);
    case FindingId::HostIsRouter:
      return hostIsRouter(e);
    case FindingId::BeaconTtlLow:
      return beaconTtlLow(e);
    case FindingId::PimNeighbourRestarted:
      return pimNeighbourRestarted(e);
    case FindingId::PimHoldtime:
      return pimHoldtime(e);
    case FindingId::HostDropsReplies:
      return droppedReplies(e);
    case FindingId::OldVersionQuery:
      return oldVersionQuery(e);
    case FindingId::QuerierSilentToProbe:
      return querierSilentToProbe(e);
    case FindingId::SnoopingDropsIgmpv3:
      return snoopingDropsV3(e);
    // Always information.
    case FindingId::Querier:
    case FindingId::BeaconTtl:
    case FindingId::PimDr:
    case FindingId::RouterIgnoresPings:
    case FindingId::LeaveWithheld:
    case FindingId::PimPassive:
      break;
  }
  return std::nullopt;
}
