#include "app/finding_text.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

namespace {

using Text = std::string;

Text number(std::int64_t value) { return std::to_string(value); }

// A Generation ID as routers' own logs print it: 0x0badcafe.
Text hex32(std::int64_t value) {
  static constexpr char kDigits[] = "0123456789abcdef";
  Text text = "0x";
  for (int shift = 28; shift >= 0; shift -= 4) {
    text += kDigits[(static_cast<std::uint64_t>(value) >> static_cast<unsigned>(shift)) & 0xFU];
  }
  return text;
}

// 260 s, 0.5 s: tenths kept, the rest cut off.
Text seconds(std::uint64_t milliseconds) {
  Text text = std::to_string(milliseconds / 1000);
  if (milliseconds % 1000 != 0) text += "." + std::to_string((milliseconds % 1000) / 100);
  return text + " s";
}

// The evidence keeps the seconds as a number; it came from whole milliseconds.
Text secondsOf(double value) {
  return seconds(static_cast<std::uint64_t>(std::llround(value * 1000)));
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

Text address(const Evidence& evidence, std::string_view name) {
  return evidence.address(name).toString();
}

bool ipv6(const Evidence& evidence) { return evidence.text("family") == "ipv6"; }

// "IGMP" or "MLD", the family's membership protocol.
Text protocol(const Evidence& evidence) { return ipv6(evidence) ? "MLD" : "IGMP"; }

// "in the 6.2 s watched", or "during this pass" where its length is unknown.
Text watched(const Evidence& e) {
  if (!e.has("watched_s")) return "during this pass";
  return "in the " + number(e.integer("watched_s")) + " s watched";
}

Text querier(const Evidence& e) {
  Text text = "The " + protocol(e) + " querier on " + e.text("interface") + " is " +
              address(e, "address") + " (" + protocol(e) + "v" + number(e.integer("version")) + ")";
  if (!e.has("membership_interval_s")) return text + "; its queries do not tell its timers.";
  return text + ", robustness " + number(e.integer("robustness")) + ", query interval " +
         number(e.integer("query_interval_s")) + " s: a group it hears no report of lives " +
         secondsOf(e.number("membership_interval_s")) + " on the link.";
}

Text noQuerier(const Evidence& e) {
  return "No " + protocol(e) + " query came on " + e.text("interface") + " " + watched(e) +
         "; a querier sends its general queries only every 125 s by default, so this "
         "pass cannot tell whether there is one; only a watch longer than that interval can "
         "(`--watch`). "
         "Without a querier, "
         "a snooping switch forgets the host's groups after about 260 s and their traffic stops.";
}

Text oldQuerier(const Evidence& e) {
  const Text version = protocol(e) + "v" + number(e.integer("version"));
  Text text = "The querier " + address(e, "address") + " on " + e.text("interface") + " speaks " +
              version + " only: it serves no source-specific join, and hosts that hear it fall " +
              "back to " + version + ", so SSM cannot work on this link.";
  if (e.flag("explains_path_ssm_not_set_up")) {
    text += " This, not a switch, is why the report finds the path not set up for SSM.";
  }
  return text;
}

Text multipleQueriers(const Evidence& e) {
  const EvidenceList& sources = e.list("sources");
  Text text = "Queries came from " + number(static_cast<std::int64_t>(sources.size())) +
              " queriers on " + e.text("interface") + ": " + joined(sources) +
              ". The lowest address, " + address(e, "elected") + ", wins the election; ";
  const EvidenceList& versions = e.list("versions");
  bool differ = false;
  for (const EvidenceValue& version : versions) {
    differ = differ || version.as<std::int64_t>() != versions.front().as<std::int64_t>();
  }
  if (!differ) return text + "queriers that keep querying regardless disagree.";
  Text each;
  for (std::size_t i = 0; i < sources.size() && i < versions.size(); ++i) {
    if (i > 0) each += ", ";
    each += sources[i].as<net::Address>().toString() + " " + protocol(e) + "v" +
            number(versions[i].as<std::int64_t>());
  }
  return text + "but they speak different versions (" + each +
         "), the commonest reason two queriers both keep querying.";
}

Text switchQuerier(const Evidence& e) {
  Text text = "A querier sends from " + address(e, "source") + " on " + e.text("interface") +
              ": a snooping switch's own querier.";
  // Hosts act on no MLD query from ::, so it keeps only the switch's groups alive.
  if (ipv6(e)) text += " Hosts discard MLD queries from ::, so it does not serve them.";
  const EvidenceList& routers = e.list("router_queriers");
  return text + (routers.empty() ? " No router's query came " + watched(e) + "."
                                 : " A router queries it too: " + joined(routers) + ".");
}

Text membershipInterval(const Evidence& e) {
  return "The querier " + address(e, "address") + " queries every " +
         number(e.integer("query_interval_s")) + " s and gives " +
         seconds(static_cast<std::uint64_t>(e.integer("query_response_interval_ms"))) +
         " to answer, so a host's reports can come " + secondsOf(e.number("report_gap_s")) +
         " apart, longer than the " + number(e.integer("snooping_timeout_s")) +
         " s a snooping switch commonly keeps a group without one: the switch can drop the "
         "host's groups between queries.";
}

Text queryOffSubnet(const Evidence& e) {
  const EvidenceList& subnets = e.list("subnets");
  Text subnetText;
  for (std::size_t i = 0; i < subnets.size(); ++i) {
    if (i > 0) subnetText += i + 1 == subnets.size() ? " and " : ", ";
    subnetText += subnets[i].as<std::string>();
  }
  Text text = "Queries on " + e.text("interface") + " come from " + joined(e.list("addresses")) +
              ", outside its " + (subnets.size() == 1 ? "subnet " : "subnets ") + subnetText +
              ". Hosts act on them all the same, but the querier election counts their source "
              "too: ";
  const EvidenceList& routers = e.list("subnet_queriers");
  const bool offSubnetWins =
      std::none_of(routers.begin(), routers.end(), [&](const EvidenceValue& router) {
        return router.as<net::Address>() == e.address("elected");
      });
  if (offSubnetWins && !routers.empty()) {
    text +=
        address(e, "elected") + " wins it over " + joined(routers) + ", which then stops querying.";
  } else if (offSubnetWins) {
    text += "a router of the subnet with a higher address would defer to " + address(e, "elected") +
            " and stop querying.";
  } else {
    text += "one with an address below " + address(e, "elected") +
            " would win it and silence the link's own querier.";
  }
  return text;
}

Text queryNotLinkLocal(const Evidence& e) {
  const EvidenceList& strangers = e.list("addresses");
  return "MLD queries on " + e.text("interface") + " come from " + joined(strangers) + ", which " +
         (strangers.size() == 1 ? "is" : "are") +
         " not link-local: hosts and routers discard such queries, so they answer nothing and "
         "elect nothing.";
}

Text setting(const Evidence& e) { return e.text("setting") + " is " + number(e.integer("value")); }

// The rule tells a setting that holds the host to the newest version (no
// harm: information) from one that holds it to an older one (a problem).
Text forcedIgmpVersion(const Finding& finding) {
  const Evidence& e = finding.evidence;
  if (finding.severity == Severity::Info) {
    // The kernel reads 3 as 0: it falls back for an IGMPv1 or v2 query all the same.
    return setting(e) + ": the kernel treats 3 as 0, so the host speaks IGMPv3 on " +
           e.text("interface") +
           " and still falls back for an IGMPv1 or v2 querier, as by default.";
  }
  return setting(e) + ": the host speaks only IGMPv" + number(e.integer("value")) + " on " +
         e.text("interface") +
         ", so its source-specific joins leave without their source and SSM cannot work from it.";
}

Text forcedMldVersion(const Finding& finding) {
  const Evidence& e = finding.evidence;
  if (finding.severity == Severity::Info) {
    return setting(e) + ": the host speaks MLDv2 on " + e.text("interface") +
           " and never falls back for an MLDv1 querier.";
  }
  if (e.has("querier")) {
    return setting(e) + " and the querier " + address(e, "querier") + " on " + e.text("interface") +
           " speaks MLDv1 only: the host drops its MLDv1 queries and sends only MLDv2 reports, "
           "which that router cannot read, so not even any-source multicast reaches this host. "
           "Set " +
           e.text("setting") + " to 0, or make the router query in MLDv2.";
  }
  return setting(e) + ": the host speaks only MLDv1 on " + e.text("interface") +
         ", so its source-specific joins leave without their source and SSM cannot work from it.";
}

Text compatibilityMode(const Evidence& e) {
  const EvidenceList& heard = e.list("old_queriers");
  return e.text("interface") + " is in IGMPv" + number(e.integer("mode")) +
         " compatibility mode: it heard an older querier's query (" +
         (heard.empty() ? Text("none came during this pass") : "from " + joined(heard)) +
         "), and until robustness x query interval + query response interval pass without one "
         "(260 s at the defaults; each further old query starts that time again) the host's "
         "source-specific joins leave without their source.";
}

Text hostDropsBeacon(const Evidence& e) {
  Text text;
  for (const EvidenceValue& item : e.list("beacons")) {
    const Evidence& beacon = item.as<Evidence>();
    const EvidenceList& senders = beacon.list("senders");
    if (!text.empty()) text += ' ';
    text += "The " + beacon.text("beacon") + " beacon's datagrams (" + address(beacon, "group") +
            " port " + number(beacon.integer("port")) + " from " + joined(senders) + ") reached " +
            e.text("interface") + ", " + number(beacon.integer("datagrams_on_link")) +
            " of them, but the test's socket received none: ";
    if (beacon.text("cause") == "rp_filter") {
      const Evidence& filter = e.record("rp_filter");
      const Text sender = senders.front().as<net::Address>().toString();
      if (beacon.has("route_interface")) {
        text += "strict reverse-path filtering (" + filter.text("setting") + " = " +
                number(filter.integer("value")) + ") drops them, as the route back to " + sender +
                " leaves by " + beacon.text("route_interface") + ".";
      } else {
        text += "reverse-path filtering (" + filter.text("setting") + " = " +
                number(filter.integer("value")) +
                ") drops them, as the host has no route back to " + sender + ".";
      }
    } else {
      text += "something on the host drops them (a firewall, for instance).";
    }
  }
  return text;
}

Text beaconTtl(const Evidence& e) {
  Text lowestOfEach;
  for (const EvidenceValue& item : e.list("beacons")) {
    const Evidence& beacon = item.as<Evidence>();
    if (!lowestOfEach.empty()) lowestOfEach += " and ";
    lowestOfEach += number(beacon.integer("lowest_ttl")) + " (" + beacon.text("beacon") + " " +
                    address(beacon, "group") + ")";
  }
  return "The beacons arrive on " + e.text("interface") + " with a lowest " +
         (ipv6(e) ? "hop limit" : "TTL") + " of " + lowestOfEach +
         ": the hops each may still make beyond this link.";
}

Text designatedRouter(const Evidence& e) {
  // Routers that answered the group ping but said no Hello may be the DR:
  // the election is then only the heard ones'.
  const bool unheard = e.has("unheard_repliers");
  Text text = unheard ? "Of the PIM routers that said Hello on " + e.text("interface") +
                            ", the designated router is " + address(e, "address")
                      : "The PIM designated router on " + e.text("interface") + " is " +
                            address(e, "address");
  if (e.has("dr_priority")) {
    text += " (DR priority " + number(e.integer("dr_priority")) + ")";
  } else {
    text += " (highest address: not every neighbour sent a DR priority)";
  }
  const EvidenceList& neighbours = e.list("neighbours");
  EvidenceList addresses;
  for (const EvidenceValue& neighbour : neighbours) {
    addresses.emplace_back(neighbour.as<Evidence>().address("address"));
  }
  // A router whose Hello came later than the window, or not at all, is not among them.
  text += ", of the " + number(static_cast<std::int64_t>(neighbours.size())) +
          (neighbours.size() == 1 ? " neighbour" : " neighbours") + " heard in " +
          number(e.integer("window_s")) + " s: " + joined(addresses) + ".";
  if (unheard) {
    const EvidenceList& others = e.list("unheard_repliers");
    const bool one = others.size() == 1;
    text += Text(" But ") + joined(others) + " answered the ping of the all-PIM-routers group " +
            "and sent no Hello in that time: " +
            (one ? "a PIM router whose Hellos come later, which is"
                 : "PIM routers whose Hellos come later, and one of them is") +
            " the DR instead if its DR priority is higher, or the same and its address higher. "
            "The DR joins";
  } else {
    text += " It joins";
  }
  return text +
         " toward the RP for the link's receivers and registers its sources; the Assert winner "
         "forwards onto the link.";
}

Text ignoredPings(const Evidence& e) {
  const char* why = ipv6(e) ? "Linux routers ignore them with net.ipv6.icmp.echo_ignore_multicast"
                            : "Linux routers ignore them by default (icmp_echo_ignore_broadcasts)";
  return address(e, "address") + " runs " + protocol(e) + " or PIM on " + e.text("interface") +
         " but answered none of the group pings: " + why +
         ", so the report's rows that rest on pings understate this router.";
}

Text withheldLeave(const Evidence& e) {
  return "The host already holds " + address(e, "group") + " on " + e.text("interface") +
         " through another socket, so the " + protocol(e) + " test sent no " +
         (e.flag("source_specific") ? "BLOCK" : "leave") +
         " for it: a router that leaves at once would stop that program's stream. Without a "
         "leave the router has no cause for a group query, so the test's verdict rests on "
         "general queries alone.";
}

Text hostIsRouter(const Evidence& e) {
  return setting(e) + ": this host routes multicast on " + e.text("interface") +
         " itself, so its own queries and Hellos never reach its tests and what they find of the "
         "link's routers differs from what its other hosts see.";
}

Text beaconTtlLow(const Evidence& e) {
  Text text;
  for (const EvidenceValue& item : e.list("beacons")) {
    const Evidence& beacon = item.as<Evidence>();
    if (!text.empty()) text += ' ';
    text += "The " + beacon.text("beacon") + " beacon (" + address(beacon, "group") + " port " +
            number(beacon.integer("port")) + " from " + address(beacon, "sender") +
            ") arrives on " + e.text("interface") + " with " + (ipv6(e) ? "hop limit " : "TTL ") +
            number(beacon.integer("lowest_ttl")) + ":";
    text += " one more router and it is gone, so a receiver one hop further gets nothing.";
  }
  return text;
}

Text pimPassive(const Evidence& e) {
  return joined(e.list("repliers")) + " answered the ping of " + address(e, "group") + " on " +
         e.text("interface") + ", but no PIM Hello came in the " + number(e.integer("window_s")) +
         " s the test listened: PIM runs there without sending Hellos on this interface (passive), "
         "as is usual on a link of hosts; the router still serves the hosts' joins.";
}

Text pimNeighbourRestarted(const Evidence& e) {
  Text text;
  for (const EvidenceValue& item : e.list("neighbours")) {
    const Evidence& neighbour = item.as<Evidence>();
    if (!text.empty()) text += ' ';
    text +=
        "The PIM neighbour " + address(neighbour, "address") + " on " + e.text("interface") +
        " changed its Generation ID since the previous pass (" +
        hex32(neighbour.integer("previous_generation_id")) + " to " +
        hex32(neighbour.integer("generation_id")) +
        "): it restarted PIM there, and its neighbours resend their joins to rebuild its state.";
  }
  return text;
}

Text pimHoldtime(const Evidence& e) {
  Text text;
  for (const EvidenceValue& item : e.list("neighbours")) {
    const Evidence& neighbour = item.as<Evidence>();
    if (!text.empty()) text += ' ';
    text += "The PIM neighbour " + address(neighbour, "address") + " on " + e.text("interface") +
            " sent a Hello with a holdtime of " + number(neighbour.integer("holdtime_s")) +
            " s, then nothing for " +
            seconds(static_cast<std::uint64_t>(neighbour.integer("silence_ms"))) +
            ": its neighbours drop it before its next Hello, and the DR changes with it.";
  }
  return text;
}

Text droppedReplies(const Evidence& e) {
  EvidenceList groups;
  std::int64_t replies = 0;
  for (const EvidenceValue& item : e.list("pings")) {
    const Evidence& ping = item.as<Evidence>();
    groups.emplace_back(ping.address("group"));
    replies += ping.integer("replies_on_link");
  }
  return "Echo replies to the pings of " + joined(groups) + " reached " + e.text("interface") +
         " (" + number(replies) + (replies == 1 ? " reply" : " replies") +
         "), but the ping's socket received none: this host's firewall drops them. They come "
         "from the router's unicast address, so connection tracking marks them invalid, and "
         "a `ct state invalid drop` rule (ufw's, firewalld's) discards them. The router "
         "answers; the report's ping rows say otherwise because of this host.";
}

// "IGMPv2" or "MLDv1": the version of a record's querier.
Text versionOf(const Evidence& family, const Evidence& record) {
  return protocol(family) + "v" + number(record.integer("version"));
}

Text oldVersionQuery(const Evidence& e) {
  Text each;
  bool fromSwitch = false;
  const EvidenceList& queriers = e.list("queriers");
  for (std::size_t i = 0; i < queriers.size(); ++i) {
    const Evidence& querier = queriers[i].as<Evidence>();
    if (i > 0) each += i + 1 == queriers.size() ? " and " : ", ";
    each += address(querier, "address") + " (" + versionOf(e, querier);
    if (querier.address("address").isUnspecified()) {
      each += ", a snooping switch's querier";
      fromSwitch = true;
    }
    each += ")";
  }
  const Text needed = ipv6(e) ? "MLDv2" : "IGMPv3";
  return "Queries older than " + needed + " reach " + e.text("interface") + " from " + each +
         ": hosts fall back to the oldest version they hear from any querier" +
         (fromSwitch && !ipv6(e) ? ", 0.0.0.0 included," : "") +
         " and then send their source-specific joins without the source, so SSM fails for "
         "every host on the link.";
}

Text querierSilentToProbe(const Evidence& e) {
  const bool leave = e.flag("leave_unanswered");
  const bool block = e.flag("block_unanswered");
  const Text leaveName = ipv6(e) ? "Done" : "leave";
  const Text unanswered = leave && block ? "neither the test's " + leaveName + " nor its BLOCK"
                                         : "not the test's " + (leave ? leaveName : Text("BLOCK"));
  return "The " + protocol(e) + " querier " + address(e, "address") + " on " + e.text("interface") +
         " sends general queries but answered " + unanswered +
         " with a query for the group. Likely causes, on the router's interface: it drops groups "
         "at once (immediate leave, explicit tracking)" +
         (ipv6(e) ? Text("")
                  : Text(", it requires the Router Alert option, which the test's "
                         "IPv4 messages do not carry")) +
         ", or an access list rejects the test's group; or a proxying switch absorbs the " +
         leaveName +
         ". The querier itself works; the tests' verdicts on it rest on its general "
         "queries.";
}

Text snoopingDropsV3(const Evidence& e) {
  const Text version = ipv6(e) ? "MLDv2" : "IGMPv3";
  Text text = "The querier " + address(e, "address") + " answered the test's " +
              (ipv6(e) ? "MLDv1 Done" : "IGMPv2 leave") + " with an " + versionOf(e, e) +
              " query, but the " + version + " BLOCK for " + address(e, "group") +
              " drew none: something between " + e.text("interface") + " and the router drops " +
              version + " reports, most likely a snooping switch that does not understand them.";
  if (e.flag("explains_path_ssm_not_set_up")) {
    text += " This is the switch problem the report's row on the SSM path points at.";
  }
  return text;
}

}  // namespace

std::string findingSentence(const Finding& finding) {
  const Evidence& e = finding.evidence;
  switch (finding.id) {
    case FindingId::Querier:
      return querier(e);
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
      return forcedIgmpVersion(finding);
    case FindingId::HostIgmpCompatMode:
      return compatibilityMode(e);
    case FindingId::HostMldVersionForced:
      return forcedMldVersion(finding);
    case FindingId::HostDropsBeacon:
      return hostDropsBeacon(e);
    case FindingId::BeaconTtl:
      return beaconTtl(e);
    case FindingId::PimDr:
      return designatedRouter(e);
    case FindingId::RouterIgnoresPings:
      return ignoredPings(e);
    case FindingId::LeaveWithheld:
      return withheldLeave(e);
    case FindingId::HostIsRouter:
      return hostIsRouter(e);
    case FindingId::BeaconTtlLow:
      return beaconTtlLow(e);
    case FindingId::PimPassive:
      return pimPassive(e);
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
      break;
  }
  return snoopingDropsV3(e);
}
