// The probes ask for captures by what they should keep; on Linux that
// becomes a libpcap expression or a program of the tool's own. Here each
// probe's request goes through the same translation, libpcap compiles it as
// the tool does (for an Ethernet capture, a bare-IP one, and the raw ICMP
// socket), and its own BPF interpreter runs it on real bytes: whatever the
// readers would count must pass, and what they discard should not.
#include "net/capture/capture_filter.h"

#include <gtest/gtest.h>
#include <linux/if_ether.h>
#include <linux/if_packet.h>
#include <net/if.h>
#include <pcap/pcap.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <array>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <optional>
#include <random>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "net/capture/capture_request.h"
#include "net/linux/capture_programs.h"
#include "net/linux/packet_capture.h"
#include "net/linux/pcap_ring.h"
#include "net/packet/ip_datagram.h"
#include "net/socket_exceptions.h"
#include "probes/icmp_echo.h"
#include "probes/igmp_messages.h"
#include "probes/mld_messages.h"
#include "probes/pim_messages.h"
#include "tests/unit/datagram_builder.h"
#include "tests/unit/ipv6_captures.h"

namespace {

using Bytes = std::vector<std::uint8_t>;
using testing_support::ipv4Datagram;

// The address the capture filters are made for: the host's own.
const net::Address kOwnAddress = net::Address::v4(0x0A000102U);  // 10.0.1.2

// A program as the kernel would run it, on datagrams framed for its link type.
class Filter {
 public:
  Filter(int linkType, const std::string& expression) : linkType_(linkType) {
    const std::unique_ptr<pcap_t, decltype(&::pcap_close)> compiler(
        ::pcap_open_dead(linkType, net::linux_capture::kSnapLength), &::pcap_close);
    bpf_program program{};
    if (::pcap_compile(compiler.get(), &program, expression.c_str(), 1, PCAP_NETMASK_UNKNOWN) !=
        0) {
      throw std::runtime_error(expression + ": " + ::pcap_geterr(compiler.get()));
    }
    program_.assign(program.bf_insns, program.bf_insns + program.bf_len);
    ::pcap_freecode(&program);
  }
  // The raw ICMP socket's program, from the tool's own compiler.
  explicit Filter(const std::vector<sock_filter>& program) : linkType_(DLT_RAW) {
    for (const auto& step : program) program_.push_back({step.code, step.jt, step.jf, step.k});
  }

  [[nodiscard]] bool passes(const Bytes& datagram) const {
    Bytes frame;
    if (linkType_ == DLT_EN10MB) {
      // To 01:00:5e:00:00:01 from 02:00:00:00:00:01, EtherType IPv4 or IPv6.
      const bool ipv6 = !datagram.empty() && (datagram[0] >> 4U) == 6U;
      frame = {0x01, 0x00, 0x5E, 0, 0, 1, 0x02, 0, 0, 0, 0, 1, 0x08, 0x00};
      if (ipv6) {
        frame[12] = 0x86;
        frame[13] = 0xDD;
      }
    }
    frame.insert(frame.end(), datagram.begin(), datagram.end());
    const auto length = static_cast<u_int>(frame.size());
    return ::bpf_filter(program_.data(), frame.data(), length, length) != 0;
  }
  [[nodiscard]] bool valid() const {
    return ::bpf_validate(program_.data(), static_cast<int>(program_.size())) != 0;
  }

 private:
  int linkType_;
  std::vector<bpf_insn> program_;
};

// A link capture's filter, as a ring lent to the request runs it.
Filter linkCapture(int linkType, const net::CaptureRequest& request) {
  return Filter(linkType, net::captureFilter(net::expressionFromIpHeader(request), kOwnAddress));
}
Filter queryCapture(int linkType) { return linkCapture(linkType, membershipQueryCapture()); }
Filter pimCapture(int linkType) {
  return linkCapture(linkType, pimMessageCapture(net::Family::V4));
}
// A beacon's capture, a packet socket that sees datagrams from their IP header.
Filter beaconCapture(const net::Endpoint& groupAndPort, const std::optional<net::Address>& source,
                     const net::Address& own) {
  return Filter(net::linux_capture::compileForIpDatagrams(
      net::captureFilter(net::expressionFromIpHeader(net::udpDatagramsTo(groupAndPort, source)),
                         own),
      "test"));
}
// The pinger's raw socket program, as acceptOnlyEchoReplies builds it.
Filter echoReplies(std::uint16_t identifier, net::Family family = net::Family::V4) {
  return Filter(
      net::linux_capture::compileForRawSocket(echoReplyCapture(family, identifier), "test"));
}

// The IPv4 probes' expressions keep IPv4 alone: IPv6 has captures of its own.
bool isIpv4(const Bytes& datagram) { return !datagram.empty() && (datagram[0] >> 4U) == 4U; }
// The capture never hands over the host's own packets, whatever they hold.
bool fromOwnAddress(const Bytes& datagram) {
  const auto parsed = net::parseDatagram(datagram);
  return parsed && parsed->source == kOwnAddress;
}
bool igmpReaderCounts(const Bytes& datagram) {
  // A query for another group still counts as an answer, so every query does.
  return isIpv4(datagram) && readMembershipQuery(datagram).has_value() && !fromOwnAddress(datagram);
}
// What the IPv4 PIM prober keeps: Hellos and Candidate-RP-Advertisements.
bool pimReaderCounts(const Bytes& datagram) {
  const auto message = readPimMessage(datagram);
  return isIpv4(datagram) && message &&
         (message->type == PimMessage::Type::Hello ||
          message->type == PimMessage::Type::CandidateRpAdvertisement) &&
         !fromOwnAddress(datagram);
}

std::vector<Bytes> corpus() {
  std::vector<Bytes> datagrams;
  for (const auto& entry : std::filesystem::directory_iterator(CORVANITE_FUZZ_CORPUS)) {
    std::ifstream file(entry.path(), std::ios::binary);
    datagrams.emplace_back(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
  }
  return datagrams;
}

Bytes withFragmentField(Bytes datagram, std::uint16_t field) {
  datagram[6] = static_cast<std::uint8_t>(field >> 8U);
  datagram[7] = static_cast<std::uint8_t>(field & 0xFFU);
  return datagram;
}

Bytes igmp(std::uint8_t type, std::uint8_t optionWords = 0) {
  return ipv4Datagram(2, {type, 100, 0, 0, 0, 0, 0, 0}, optionWords);
}
Bytes pim(std::uint8_t first, std::uint8_t optionWords = 0) {
  return ipv4Datagram(103, {first, 0, 0x12, 0x34, 0, 1, 0, 2, 0, 105}, optionWords);
}

constexpr std::array<int, 2> kCaptureLinkTypes{DLT_EN10MB, DLT_RAW};

TEST(CaptureFilter, EveryExpressionCompilesToAValidProgram) {
  for (const int linkType : kCaptureLinkTypes) {
    EXPECT_TRUE(queryCapture(linkType).valid()) << linkType;
    EXPECT_TRUE(pimCapture(linkType).valid()) << linkType;
  }
  EXPECT_TRUE(echoReplies(0x1234).valid());
  EXPECT_THROW(net::linux_capture::compileForIpDatagrams("igmp and igmp[0] ==", "test"),
               net::CV_SocketException);
}

TEST(CaptureFilter, KeepNothingKeepsNothing) {
  const Filter ring(DLT_EN10MB, net::kKeepNothing);
  const Filter rawSocket(net::linux_capture::compileForIpDatagrams(net::kKeepNothing, "test"));
  for (const auto& datagram : corpus()) {
    EXPECT_FALSE(ring.passes(datagram));
    EXPECT_FALSE(rawSocket.passes(datagram));
  }
}

TEST(CaptureFilter, EveryCorpusDatagramTheReadersCountPasses) {
  for (const int linkType : kCaptureLinkTypes) {
    const Filter queries = queryCapture(linkType);
    const Filter pimMessages = pimCapture(linkType);
    int igmpCounted = 0;
    int pimCounted = 0;
    for (const auto& datagram : corpus()) {
      if (igmpReaderCounts(datagram)) {
        ++igmpCounted;
        EXPECT_TRUE(queries.passes(datagram)) << linkType;
      }
      if (pimReaderCounts(datagram)) {
        ++pimCounted;
        EXPECT_TRUE(pimMessages.passes(datagram)) << linkType;
      }
    }
    // The corpus holds both kinds, so the checks above ran.
    EXPECT_GE(igmpCounted, 5);
    EXPECT_GE(pimCounted, 2);
  }
}

// Random mutations of the corpus (bytes of the header and the first payload
// bytes rewritten, cut short, lengthened): the filter never drops what a
// reader would count, and most of what they drop never reaches them.
TEST(CaptureFilter, MutatedCorpusNeverLosesACountedDatagram) {
  const Filter queries = queryCapture(DLT_EN10MB);
  const Filter pimMessages = pimCapture(DLT_EN10MB);
  std::mt19937 random(15);
  std::uniform_int_distribution<int> byte(0, 255);
  int missedByFilter = 0;
  int counted = 0;
  int droppedByBoth = 0;
  for (const auto& seed : corpus()) {
    for (int round = 0; round < 2000; ++round) {
      Bytes datagram = seed;
      const int edits = 1 + round % 3;
      for (int edit = 0; edit < edits && !datagram.empty(); ++edit) {
        const auto reach = std::min<std::size_t>(datagram.size(), 40);
        datagram[static_cast<std::size_t>(byte(random)) % reach] =
            static_cast<std::uint8_t>(byte(random));
      }
      if (round % 7 == 0)
        datagram.resize(static_cast<std::size_t>(byte(random)) % (seed.size() + 1));
      if (round % 11 == 0) datagram.resize(datagram.size() + 4, 0);
      for (const auto& [filter, counts] : {std::pair{&queries, igmpReaderCounts(datagram)},
                                           std::pair{&pimMessages, pimReaderCounts(datagram)}}) {
        const bool passes = filter->passes(datagram);
        if (counts) ++counted;
        if (counts && !passes) ++missedByFilter;
        if (!counts && !passes) ++droppedByBoth;
      }
    }
  }
  EXPECT_EQ(missedByFilter, 0);
  EXPECT_GT(counted, 1000);
  EXPECT_GT(droppedByBoth, counted);
}

TEST(CaptureFilter, QueriesPassAtTheHeaderLengthTheDatagramGives) {
  for (const int linkType : kCaptureLinkTypes) {
    const Filter filter = queryCapture(linkType);
    EXPECT_TRUE(filter.passes(igmp(0x11)));
    EXPECT_TRUE(filter.passes(igmp(0x11, 1))) << "Router Alert option";
    EXPECT_TRUE(filter.passes(igmp(0x11, 10))) << "longest header";
    // The option bytes are 0x94: a filter reading at a fixed offset 20 would
    // see them, not the report.
    EXPECT_FALSE(filter.passes(igmp(0x16, 1)));
    EXPECT_TRUE(filter.passes(withFragmentField(igmp(0x11), 0x4000))) << "Don't Fragment";
    EXPECT_TRUE(filter.passes(withFragmentField(igmp(0x11), 0x2000))) << "first of several";
  }
}

TEST(CaptureFilter, QueryCaptureDropsReportsLaterFragmentsRuntsAndOtherProtocols) {
  const Filter filter = queryCapture(DLT_EN10MB);
  for (const int type : {0x12, 0x16, 0x17, 0x22, 0x00, 0x10, 0x31}) {
    EXPECT_FALSE(filter.passes(igmp(static_cast<std::uint8_t>(type)))) << type;
  }
  EXPECT_FALSE(filter.passes(withFragmentField(igmp(0x11), 0x0001))) << "later fragment";
  EXPECT_FALSE(filter.passes(withFragmentField(igmp(0x11), 0x3FFF))) << "later fragment, MF";
  Bytes headerOnly = igmp(0x11);
  headerOnly.resize(20);
  EXPECT_FALSE(filter.passes(headerOnly)) << "no payload byte";
  Bytes cut = igmp(0x11, 2);
  cut.resize(24);
  EXPECT_FALSE(filter.passes(cut)) << "cut inside the options";
  EXPECT_FALSE(filter.passes(ipv4Datagram(17, {0x11, 0, 0, 0, 0, 0, 0, 0})));
  EXPECT_FALSE(filter.passes(ipv4Datagram(103, {0x11, 0, 0, 0, 0, 0, 0, 0})));
}

TEST(CaptureFilter, WhatTheHostSentItselfStaysOut) {
  const std::vector<std::uint8_t> own{10, 0, 1, 2};
  const Bytes ownQuery = ipv4Datagram(2, {0x11, 100, 0, 0, 0, 0, 0, 0}, 0, own);
  const Bytes ownHello = ipv4Datagram(103, {0x20, 0, 0, 0, 0, 1, 0, 2, 0, 30}, 0, own);
  for (const int linkType : kCaptureLinkTypes) {
    EXPECT_TRUE(queryCapture(linkType).passes(igmp(0x11)));
    EXPECT_FALSE(queryCapture(linkType).passes(ownQuery));
    EXPECT_TRUE(pimCapture(linkType).passes(pim(0x20)));
    EXPECT_FALSE(pimCapture(linkType).passes(ownHello)) << "the probe's own Hello";
  }
}

// A beacon's datagram to 233.4.200.19, UDP port `port`, from `source`.
Bytes beacon(std::uint16_t port, std::vector<std::uint8_t> source = {10, 0, 2, 1}) {
  Bytes datagram = ipv4Datagram(17,
                                {0x27, 0x10, static_cast<std::uint8_t>(port >> 8U),
                                 static_cast<std::uint8_t>(port), 0, 9, 0, 0, 0x42},
                                0, std::move(source));
  datagram[16] = 233;
  datagram[17] = 4;
  datagram[18] = 200;
  datagram[19] = 19;
  return datagram;
}

// The diagnosis' capture of one beacon: what the old hand-written program
// kept, first fragments to the group and port, from the channel's source
// alone for SSM.
TEST(CaptureFilter, BeaconCaptureKeepsFirstFragmentsToTheGroupAndPortFromTheSource) {
  const net::Endpoint groupAndPort{*net::Address::parseV4("233.4.200.19"), 10002};
  const auto source = net::Address::parseV4("10.0.2.1");
  EXPECT_EQ(net::expressionFromIpHeader(net::udpDatagramsTo(groupAndPort, source)),
            "udp and dst host 233.4.200.19 and dst port 10002 and src host 10.0.2.1");
  const Filter anySource = beaconCapture(groupAndPort, std::nullopt, kOwnAddress);
  const Filter oneSource = beaconCapture(groupAndPort, source, kOwnAddress);
  for (const Filter* filter : {&anySource, &oneSource}) {
    EXPECT_TRUE(filter->passes(beacon(10002)));
    EXPECT_TRUE(filter->passes(withFragmentField(beacon(10002), 0x2000))) << "first of several";
    EXPECT_FALSE(filter->passes(withFragmentField(beacon(10002), 0x0003))) << "a later fragment";
    EXPECT_FALSE(filter->passes(beacon(10003))) << "another port";
    Bytes otherGroup = beacon(10002);
    otherGroup[19] = 20;
    EXPECT_FALSE(filter->passes(otherGroup));
    Bytes notUdp = beacon(10002);
    notUdp[9] = 6;
    EXPECT_FALSE(filter->passes(notUdp));
    EXPECT_FALSE(filter->passes(beacon(10002, {10, 0, 1, 2}))) << "the host's own";
  }
  EXPECT_TRUE(anySource.passes(beacon(10002, {10, 0, 3, 1})));
  EXPECT_FALSE(oneSource.passes(beacon(10002, {10, 0, 3, 1})))
      << "another source of the channel's group";
}

TEST(CaptureFilter, PimCaptureKeepsHellosAndRpAdvertisementsOnly) {
  const Filter filter = pimCapture(DLT_EN10MB);
  EXPECT_TRUE(filter.passes(pim(0x20)));
  EXPECT_TRUE(filter.passes(pim(0x28)));
  EXPECT_TRUE(filter.passes(pim(0x20, 3))) << "IP options";
  EXPECT_TRUE(filter.passes(withFragmentField(pim(0x28), 0x2000)));
  // Join/Prune, Register, Bootstrap, Assert, version 1, look-alike types.
  for (const int first : {0x23, 0x21, 0x24, 0x25, 0x10, 0x30, 0x00, 0x11}) {
    EXPECT_FALSE(filter.passes(pim(static_cast<std::uint8_t>(first)))) << first;
  }
  EXPECT_FALSE(filter.passes(withFragmentField(pim(0x20), 0x0010))) << "later fragment";
  EXPECT_FALSE(filter.passes(ipv4Datagram(2, {0x20, 0, 0, 0, 0, 0, 0, 0})));
  EXPECT_FALSE(filter.passes(ipv4Datagram(6, {0x20, 0, 0, 0, 0, 0, 0, 0})));
  Bytes headerOnly = pim(0x20, 1);
  headerOnly.resize(24);
  EXPECT_FALSE(filter.passes(headerOnly));
}

Bytes echoReply(std::uint8_t type, std::uint16_t identifier, std::uint8_t optionWords = 0) {
  const auto request = echoRequest(identifier, 7);
  Bytes message(request.begin(), request.end());
  message[0] = type;
  return ipv4Datagram(1, message, optionWords);
}

TEST(EchoReplyFilter, KeepsOnlyRepliesToOurOwnIdentifier) {
  for (const std::uint16_t identifier :
       std::array<std::uint16_t, 5>{0x1234, 0x0001, 0xFF00, 0xFFFF, 0x0000}) {
    const Filter filter = echoReplies(identifier);
    EXPECT_TRUE(filter.passes(echoReply(0, identifier))) << identifier;
    EXPECT_TRUE(filter.passes(echoReply(0, identifier, 1))) << "IP options " << identifier;
    EXPECT_TRUE(filter.passes(echoReply(0, identifier, 10))) << "longest header " << identifier;
    EXPECT_TRUE(filter.passes(withFragmentField(echoReply(0, identifier), 0x4000)));
    EXPECT_FALSE(filter.passes(echoReply(8, identifier))) << "our own looped request";
    EXPECT_FALSE(filter.passes(echoReply(3, identifier)));
    EXPECT_FALSE(filter.passes(echoReply(0, static_cast<std::uint16_t>(identifier ^ 0x0100U))));
    EXPECT_FALSE(filter.passes(echoReply(0, static_cast<std::uint16_t>(identifier ^ 0x0001U))));
    EXPECT_FALSE(filter.passes(withFragmentField(echoReply(0, identifier), 0x0001)));
  }
  // Byte order: 0x1234 goes out as 34 12, so a reply carrying 12 34 is
  // another process's.
  const Filter filter = echoReplies(0x1234);
  EXPECT_FALSE(filter.passes(echoReply(0, 0x3412)));
  Bytes runt = echoReply(0, 0x1234);
  runt.resize(25);
  EXPECT_FALSE(filter.passes(runt)) << "cut inside the identifier";
}

// Echo replies mutated at random, and the corpus as it stands: the kernel
// never drops one the reader would count, and drops most that it would not.
TEST(EchoReplyFilter, NeverDropsAReplyTheReaderCounts) {
  constexpr std::uint16_t kIdentifier = 0xA51C;
  const Filter filter = echoReplies(kIdentifier);
  std::vector<Bytes> seeds = corpus();
  seeds.push_back(echoReply(0, kIdentifier));
  seeds.push_back(echoReply(0, kIdentifier, 2));
  std::mt19937 random(16);
  std::uniform_int_distribution<int> byte(0, 255);
  int counted = 0;
  int missedByFilter = 0;
  int droppedByBoth = 0;
  for (const auto& seed : seeds) {
    for (int round = 0; round < 3000; ++round) {
      Bytes datagram = seed;
      // Most rounds keep our identifier, type and header length somewhere
      // near, so that both verdicts occur often.
      if (round % 2 == 0 && datagram.size() >= 20) {
        const std::size_t header = static_cast<std::size_t>(datagram[0] & 0x0FU) * 4U;
        if (header >= 20 && datagram.size() >= header + 6) {
          datagram[9] = 1;
          datagram[header] = 0;
          datagram[header + 4] = kIdentifier & 0xFFU;
          datagram[header + 5] = kIdentifier >> 8U;
        }
      }
      const int edits = round % 4;
      for (int edit = 0; edit < edits && !datagram.empty(); ++edit) {
        const auto reach = std::min<std::size_t>(datagram.size(), 48);
        datagram[static_cast<std::size_t>(byte(random)) % reach] =
            static_cast<std::uint8_t>(byte(random));
      }
      if (round % 5 == 0)
        datagram.resize(static_cast<std::size_t>(byte(random)) % (datagram.size() + 1));
      // A raw ICMP socket is handed IP protocol 1 alone.
      const bool icmp = isIpv4(datagram) && datagram.size() > 9 && datagram[9] == 1;
      const bool counts = icmp && echoReplySender(datagram, kIdentifier).has_value();
      const bool passes = filter.passes(datagram);
      if (counts) ++counted;
      if (counts && !passes) ++missedByFilter;
      if (!counts && !passes) ++droppedByBoth;
    }
  }
  EXPECT_EQ(missedByFilter, 0);
  EXPECT_GT(counted, 1000);
  EXPECT_GT(droppedByBoth, counted);
}

// The IPv6 capture's programs on scapy's datagrams: every query the MLD
// reader counts passes, whatever extension headers come before it, and the
// chains the reader refuses (later fragments, nine headers, cut ones) do not.
TEST(Ipv6CaptureFilter, MldKeepsEveryQueryTheReaderCountsBehindAnyChain) {
  using namespace ipv6_captures;
  const Filter filter(net::linux_if::ipv6CaptureProgramFor(mldQueryCapture()));
  ASSERT_TRUE(filter.valid());
  for (const Bytes& query :
       {kMldv2GeneralQueryRa, kMldv2GroupQueryRa, kMldv2GroupSourceQueryRa,
        kMldv2QueryCoded20Sources, kMldv1GeneralQueryRa, kMldv1GroupQuery,
        kMldv2QueryDstoptsRouting, kMldv2QueryFirstFragment, kMldv2Query8ExtensionHeaders}) {
    ASSERT_TRUE(readMldQuery(query).has_value());
    EXPECT_TRUE(filter.passes(query)) << ::testing::PrintToString(query);
  }
  for (const Bytes& other : {kMldv2QueryLaterFragment, kMldv2QueryLookalikeLaterFragment,
                             kMldv2Query9ExtensionHeaders, kMldv2QueryNoNextHeader, kMldv1ReportRa,
                             kMldv1DoneRa, kMldv2ReportAllowRa, kMldv2ReportBlockRa, kEchoReply,
                             kPimHello, kUdpQueryLookalike, kHeaderOnly, kCutInHopByHop}) {
    EXPECT_FALSE(filter.passes(other)) << ::testing::PrintToString(other);
  }
}

TEST(Ipv6CaptureFilter, PimKeepsHellosBootstrapsAndRpAdvertisementsOnly) {
  using namespace ipv6_captures;
  const Filter filter(net::linux_if::ipv6CaptureProgramFor(pimMessageCapture(net::Family::V6)));
  ASSERT_TRUE(filter.valid());
  for (const Bytes& kept : {kPimHello, kPimHelloHost, kPimBootstrap, kPimCRpAdvertisement}) {
    EXPECT_TRUE(filter.passes(kept)) << ::testing::PrintToString(kept);
  }
  for (const Bytes& other : {kMldv2GeneralQueryRa, kUdpBeacon, kEchoReply, kHeaderOnly}) {
    EXPECT_FALSE(filter.passes(other)) << ::testing::PrintToString(other);
  }
}

// A request without message types keeps every message of its protocol; one
// the translation cannot say in full is refused, never widened in silence.
TEST(CaptureRequest, TranslationsKeepWhatTheyCanSayAndRefuseTheRest) {
  using namespace ipv6_captures;
  const Filter udp(net::linux_if::ipv6CaptureProgramFor(
      net::CaptureRequest{net::Family::V6, 17, {}, {}, {}, {}}));
  EXPECT_TRUE(udp.passes(kUdpBeacon));
  EXPECT_FALSE(udp.passes(kPimHello));
  EXPECT_FALSE(udp.passes(kHeaderOnly));

  const net::Endpoint groupAndPort{*net::Address::parseV6("ff3e:20:2001:db8::19"), 10002};
  EXPECT_THROW(net::linux_if::ipv6CaptureProgramFor(net::udpDatagramsTo(groupAndPort, {})),
               std::invalid_argument);
  EXPECT_THROW(net::linux_if::ipv6CaptureProgramFor(membershipQueryCapture()),
               std::invalid_argument)
      << "an IPv4 request";
  net::CaptureRequest addressed = echoReplyCapture(net::Family::V6, 1);
  addressed.source = net::Address::parseV6("fe80::1");
  EXPECT_THROW(net::expressionFromIcmpv6Message(addressed), std::invalid_argument);
  EXPECT_THROW(net::expressionFromIpHeader(net::CaptureRequest{net::Family::V4, 6, {}, {}, {}, {}}),
               std::invalid_argument);
  EXPECT_EQ(net::expressionFromIpHeader(membershipQueryCapture()), "igmp and igmp[0] == 0x11");
  EXPECT_EQ(net::expressionFromIpHeader(pimMessageCapture(net::Family::V4)),
            "pim and (pim[0] == 0x20 or pim[0] == 0x28)");
}

// An ETH_P_IPV6 frame may carry anything: the program keeps version 6 alone,
// and the PIM reader of an IPv6 capture refuses an IPv4 datagram.
TEST(Ipv6CaptureFilter, ADatagramOfAnotherVersionStaysOutWhateverItCarries) {
  using namespace ipv6_captures;
  const Filter mld(net::linux_if::ipv6CaptureProgramFor(mldQueryCapture()));
  const Filter pim(net::linux_if::ipv6CaptureProgramFor(pimMessageCapture(net::Family::V6)));
  for (const unsigned version : {0x00U, 0x40U, 0x50U, 0x70U, 0xF0U}) {
    for (Bytes query : {kMldv2GeneralQueryRa, kMldv1GroupQuery}) {
      query[0] = static_cast<std::uint8_t>(version | (query[0] & 0x0FU));
      EXPECT_FALSE(mld.passes(query)) << version;
    }
    Bytes hello = kPimHello;
    hello[0] = static_cast<std::uint8_t>(version | (hello[0] & 0x0FU));
    EXPECT_FALSE(pim.passes(hello)) << version;
  }
  // An IPv4 PIM Hello laid out so that its bytes 6 and 40 read, as IPv6,
  // next header 103 and a Hello: 20 bytes of options, then the message.
  const Bytes message{0x20, 0, 0, 0, 0, 1, 0, 2, 0, 105};
  Bytes v4Hello = ipv4Datagram(103, message, 5);
  v4Hello[6] = 103;
  ASSERT_EQ(v4Hello[40], 0x20);
  EXPECT_FALSE(pim.passes(v4Hello));
  const Bytes plain = ipv4Datagram(103, message);
  ASSERT_TRUE(readPimMessage(plain).has_value());
  EXPECT_FALSE(readPimMessage(plain, net::Family::V6).has_value());
  EXPECT_TRUE(readPimMessage(plain, net::Family::V4).has_value());
  EXPECT_FALSE(readPimMessage(kPimHello, net::Family::V4).has_value());
  EXPECT_TRUE(readPimMessage(kPimHello, net::Family::V6).has_value());
}

// What the interface received for another host's address (a bridge port, a
// promiscuous interface) is no traffic of this host's link. Loopback's own
// address is all zeros, so a frame sent there to any other arrives as
// PACKET_OTHERHOST; each frame carries a nonce, as other programs use
// loopback too.
TEST(PacketCapture, FramesForAnotherHostStayOut) {
  const unsigned int loopback = ::if_nametoindex("lo");
  ASSERT_NE(loopback, 0U);
  net::UniqueSocket capture;
  try {
    capture = net::openPacketCapture(loopback, net::Family::V4, {{BPF_RET | BPF_K, 0, 0, 0xFFFF}});
  } catch (const net::CV_SocketException&) {
    GTEST_SKIP() << "packet sockets need CAP_NET_RAW";
  }
  const int sender = ::socket(AF_PACKET, SOCK_RAW, 0);
  ASSERT_NE(sender, -1);
  sockaddr_ll to{};
  to.sll_family = AF_PACKET;
  to.sll_ifindex = static_cast<int>(loopback);
  to.sll_halen = ETH_ALEN;
  const auto nonce = static_cast<std::uint8_t>(std::random_device{}());
  // IPv4, protocol 253 (for experiments), 127.0.0.1 to itself, TTL 1.
  const auto frameTo = [&](std::uint8_t lastMacByte, std::uint8_t mark) {
    Bytes frame{0, 0, 0, 0, 0, lastMacByte, 0, 0, 0, 0, 0, 0, 0x08, 0x00};
    const Bytes datagram{0x45, 0,   0, 22, 0, 0,   0, 0, 1, 253,   0,
                         0,    127, 0, 0,  1, 127, 0, 0, 1, nonce, mark};
    frame.insert(frame.end(), datagram.begin(), datagram.end());
    return frame;
  };
  for (const auto& [mac, mark] : {std::pair<std::uint8_t, std::uint8_t>{9, 1}, {0, 2}}) {
    const Bytes frame = frameTo(mac, mark);
    ASSERT_EQ(::sendto(sender, frame.data(), frame.size(), 0, reinterpret_cast<sockaddr*>(&to),
                       sizeof to),
              static_cast<ssize_t>(frame.size()));
  }
  ::close(sender);
  std::vector<std::uint8_t> marks;
  pollfd ready{capture.get(), POLLIN, 0};
  std::array<std::uint8_t, 2048> buffer{};
  while (::poll(&ready, 1, 200) == 1) {
    const ssize_t got = ::recv(capture.get(), buffer.data(), buffer.size(), MSG_DONTWAIT);
    if (got == 22 && buffer[9] == 253 && buffer[20] == nonce) marks.push_back(buffer[21]);
  }
  EXPECT_EQ(marks, std::vector<std::uint8_t>{2});
}

// The IPv6 beacon capture on scapy's beacon to ff3e:20:2001:db8::19 port
// 10002 from 2001:db8::20, as its packet socket sees it, on a host whose link-local
// address is fe80::2.
TEST(Ipv6CaptureFilter, BeaconCaptureKeepsTheChannelsDatagramsAlone) {
  using ipv6_captures::kUdpBeacon;
  const auto group = net::Address::parseV6("ff3e:20:2001:db8::19");
  const auto source = net::Address::parseV6("2001:db8::20");
  const auto own = net::Address::parseV6("fe80::2");
  ASSERT_TRUE(group && source && own);
  const net::Endpoint groupAndPort{*group, 10002};
  EXPECT_EQ(net::expressionFromIpHeader(net::udpDatagramsTo(groupAndPort, source)),
            "udp and dst host ff3e:20:2001:db8::19 and dst port 10002 and src host 2001:db8::20");
  const Filter anySource = beaconCapture(groupAndPort, std::nullopt, *own);
  const Filter oneSource = beaconCapture(groupAndPort, source, *own);
  // Byte offsets in the datagram: next header 6, source 8..23, group 24..39,
  // destination port 42..43.
  const auto changed = [](std::size_t at, std::uint8_t value) {
    Bytes datagram = kUdpBeacon;
    datagram[at] = value;
    return datagram;
  };
  Bytes fromOwn = kUdpBeacon;
  std::copy(own->bytes().begin(), own->bytes().end(), fromOwn.begin() + 8);
  for (const Filter* filter : {&anySource, &oneSource}) {
    EXPECT_TRUE(filter->passes(kUdpBeacon));
    EXPECT_FALSE(filter->passes(changed(43, 0x13))) << "another port";
    EXPECT_FALSE(filter->passes(changed(39, 0x20))) << "another group";
    EXPECT_FALSE(filter->passes(changed(6, 6))) << "not UDP";
    EXPECT_FALSE(filter->passes(fromOwn)) << "the host's own";
    EXPECT_FALSE(filter->passes(ipv4Datagram(17, {0x9C, 0x40, 0x27, 0x12, 0, 8, 0, 0})))
        << "IPv4 to the port";
  }
  EXPECT_TRUE(anySource.passes(changed(23, 0x21)));
  EXPECT_FALSE(oneSource.passes(changed(23, 0x21))) << "another source of the channel's group";
}

// On the raw ICMPv6 socket the program sees the message alone.
TEST(EchoReplyFilter, Ipv6KeepsOnlyRepliesToOurOwnIdentifierFromTheMessageOn) {
  const Bytes ours{129, 0, 0, 0, 0x34, 0x12, 0, 1};
  const Filter filter = echoReplies(0x1234, net::Family::V6);
  ASSERT_TRUE(filter.valid());
  EXPECT_TRUE(filter.passes(ours));
  Bytes request = ours;
  request[0] = 128;
  EXPECT_FALSE(filter.passes(request)) << "our own looped request";
  EXPECT_FALSE(filter.passes(Bytes{129, 0, 0, 0, 0x12, 0x34, 0, 1})) << "byte order";
  EXPECT_FALSE(filter.passes(Bytes{129, 0, 0, 0, 0x34})) << "cut inside the identifier";
}

}  // namespace
