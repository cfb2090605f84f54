// What one pass found, test by test: what each test sent, what it saw and
// how it ended. Every output (the text, JSON) renders these records; the
// report's conclusions are rules over them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "net/address.h"
#include "net/host_state.h"
#include "net/interfaces.h"
#include "probes/group_pinger.h"
#include "probes/membership_prober.h"
#include "probes/pim_prober.h"

// The tests of a battery, by what they do; their numbers, names and order
// are the battery list's (app/battery.def).
enum class TestId {
#define BATTERY_TEST(id, ...) id,
#include "app/battery.def"
};

// How many tests a battery runs: a row of the list each.
inline constexpr std::size_t kTestCount =
    std::initializer_list<TestId>{
#define BATTERY_TEST(id, ...) TestId::id,
#include "app/battery.def"
    }
        .size();

struct BeaconMember {
  net::Address address;
  std::int32_t datagrams = 0;
};

// A sender whose beacon datagrams reached the interface, whether or not the
// test's socket took them.
struct LinkSender {
  net::Address address;
  std::int32_t datagrams = 0;
  std::uint8_t lowestTtl = 0;
  // The interfaces the host's route back to the sender leaves by (each next
  // hop's; none when it has no route at all): asked only when the socket
  // took nothing, for the reverse-path check; nothing when not told.
  std::optional<std::vector<std::string>> routeInterfaces;
};

// Tests 1 and 2: the group listened to, and the source for a channel.
struct BeaconDetails {
  net::Address group;
  std::uint16_t port = 0;
  std::optional<net::Address> source;
  // The receiving socket was open: a failure from here on was the join's,
  // the listening's or the leave's.
  bool socketOpened = false;
  // In address order, at most kMaxBeaconMembersKept of them.
  std::vector<BeaconMember> members;
  // Datagrams from senders heard once that bound was reached.
  std::int64_t unlistedMemberDatagrams = 0;
  // What a capture of the interface saw of the beacon during the listening,
  // in the senders' address order, at most kMaxLinkSendersKept of them;
  // nothing where the platform has no such capture or it could not be opened.
  std::optional<std::vector<LinkSender>> onLink;
  // The capture's datagrams from senders beyond that bound.
  std::int64_t unlistedLinkDatagrams = 0;
  // Test 2: the setting that holds the host to IGMPv1 or v2 (MLDv1) on the
  // interface, which sends a source-specific join without its source; the
  // test then fails without joining.
  std::optional<net::KernelSetting> heldToOldIgmp;
  // Test 2, when no setting held it: the IGMP version (1 or 2) the interface
  // had fallen back to at the join, after an older querier was heard; the
  // test fails the same way.
  std::optional<int> heldInIgmpMode = std::nullopt;
};

// Test 2 met a host held to an older IGMP (MLD) version, by a setting or by
// its compatibility mode, and so did not join.
bool heldToOldVersion(const BeaconDetails& beacon);

// The beacon's datagrams reached the interface, but the test's socket took
// none of them: the host itself dropped them.
bool droppedByHost(const BeaconDetails& beacon);

// Tests 3, 4 and 7.
struct PingDetails {
  net::Address group;
  std::vector<EchoReply> replies;
  // Replies from hosts beyond kMaxEchoRepliersKept.
  std::int64_t unlistedReplies = 0;
  // The echo replies to this ping that a capture of the interface saw,
  // whether the socket took them or not; nothing where the platform has no
  // such capture or it could not be opened.
  std::optional<std::int64_t> repliesOnLink = std::nullopt;
};

// Tests 5 and 6.
struct MembershipDetails {
  // The group whose query (or a general one) is the router's answer, and
  // the lowest IGMP version such a query must have to count (3 for test 6).
  net::Address group;
  int lowestVersion = 1;
  std::vector<ObservedQuery> queries;
  bool sawQueryForGroup = false;
  // Queries beyond kMaxQueriesKept.
  std::int64_t unlistedQueries = 0;
  // Queries whose checksum failed, left out.
  std::int64_t corruptQueries = 0;
  // The host held the group through another socket, so no leave (BLOCK)
  // went: on a router that leaves at once it would have stopped that stream.
  bool leaveWithheld = false;
};

// Test 8.
struct PimDetails {
  std::vector<NeighbourHello> hellos;
  std::vector<net::Address> rpAdvertisers;
  // Hellos and RP advertisements from senders beyond their bounds.
  std::int64_t unlistedHellos = 0;
  std::int64_t unlistedRpAdvertisements = 0;
  // Messages whose checksum failed, left out.
  std::int64_t corruptMessages = 0;
};

using TestDetails =
    std::variant<std::monostate, BeaconDetails, PingDetails, MembershipDetails, PimDetails>;

enum class TestOutcome { Succeeded, Failed, Error };

// The socket call that ended a test: a failed call names itself; a raw
// socket that could not be opened names no call; an option the platform
// does not offer names itself and says what is missing.
struct TestError {
  enum class Kind { SocketCall, RawSocket, PlatformLacks };
  Kind kind = Kind::SocketCall;
  std::optional<std::string> call;
  std::int32_t code = 0;
  std::optional<std::string> lacking = std::nullopt;
};

struct TestRecord;

// A record's details of one kind, or empty ones when it holds none of that kind.
template <typename Details>
const Details& detailsOf(const TestRecord& record);

struct TestRecord {
  TestId id = TestId::AsmBeacon;
  int number = 0;
  bool ran = false;
  TestOutcome outcome = TestOutcome::Failed;
  std::optional<TestError> error;
  std::uint32_t durationMs = 0;
  TestDetails details;
};

template <typename Details>
const Details& detailsOf(const TestRecord& record) {
  static const Details kNone{};
  const auto* filled = std::get_if<Details>(&record.details);
  return filled != nullptr ? *filled : kNone;
}

// The link a pass tested, and how it was chosen: "option", "host-name",
// "multicast-route" or "first-up". Unknown parts are empty.
struct InterfaceSummary {
  std::optional<std::string> name;
  std::optional<std::string> address;
  std::optional<std::string> chosenBy;
};

// The IGMP or MLD queries that reached the interface during the whole pass,
// from the first test to the last, whoever sent them and whatever they
// answered: a general query outside tests 5 and 6 proves a querier too.
struct LinkQueries {
  // In the order seen, at most kMaxQueriesKept of them; sinceProbeMs counts
  // from the start of this capture.
  std::vector<ObservedQuery> queries;
  // Queries beyond that bound.
  std::int64_t unlisted = 0;
  // How long the capture listened.
  std::uint32_t watchedMs = 0;
};

struct PassFindings {
  // The family of the battery that ran.
  net::Family family = net::Family::V4;
  // One record for each test of the battery, in the battery's order.
  std::vector<TestRecord> tests;
  InterfaceSummary chosenInterface;
  // The interface the pass tested, when it was found.
  std::optional<net::LinkInterface> link;
  // The host's own multicast settings on it, read when the tests were over.
  net::HostMulticastState hostState;
  // Every query the link carried during the pass; nothing where the
  // platform has no such capture or it could not be opened.
  std::optional<LinkQueries> linkQueries;
  // The Hellos test 8 heard in the run's previous pass of this family, for
  // a neighbour's Generation ID to be compared; nothing in a run's first
  // pass or where that test did not run cleanly.
  std::optional<std::vector<NeighbourHello>> previousHellos;

  // The record of test `id`; nullptr when the pass has none.
  [[nodiscard]] const TestRecord* find(TestId id) const;
  [[nodiscard]] TestRecord* find(TestId id);
  // Test `id` ran and hit no socket failure: what it did not see, it could
  // have seen.
  [[nodiscard]] bool ranCleanly(TestId id) const;
  // Its details, or empty ones of their kind when the test has not filled them.
  template <typename Details>
  [[nodiscard]] const Details& details(TestId id) const {
    static const TestRecord kNotRun{};
    const TestRecord* test = find(id);
    return detailsOf<Details>(test != nullptr ? *test : kNotRun);
  }
};

// The yes-or-no facts of one pass that the report's conclusions rest on,
// each read off the records: whether a test found what it looks for is its
// battery row's to say.
struct PassFlags {
  bool hostAsmCapable = false;
  bool hostSsmCapable = false;
  bool allRoutersAnswered = false;
  bool ssmRoutersAnswered = false;
  bool pimRoutersAnswered = false;
  bool pimHelloAnswered = false;
  bool asmBeaconHeard = false;
  bool ssmBeaconHeard = false;
  bool anySourceQuerySeen = false;
  bool sourceQuerySeen = false;
};

PassFlags flagsOf(const PassFindings& findings);

// Who answered the PIM probe, as the report names them: the Hello senders,
// or else the RP advertisers, each address text followed by ", " in
// byte-wise order of the texts; "" when nobody answered.
std::string pimResponderText(const PassFindings& findings);
