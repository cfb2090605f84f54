// What one pass found, test by test, in the detail that machine-read output
// carries: every member, router, query and Hello behind each verdict.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <variant>
#include <vector>

struct BeaconMember {
  std::string address;
  std::int32_t datagrams = 0;
};

// Tests 1 and 2: the group listened to, and the source for a channel.
struct BeaconDetails {
  std::string group;
  std::uint16_t port = 0;
  std::optional<std::string> source;
  std::vector<BeaconMember> members;
};

struct RouterReply {
  std::string address;
  double roundTripMs = 0;
};

// Tests 3, 4 and 7.
struct PingDetails {
  std::string group;
  std::vector<RouterReply> replies;
};

struct QueryRecord {
  std::string sender;
  std::string destination;
  int version = 0;
  std::string group;
  std::uint32_t maxResponseMs = 0;
  double sinceProbeMs = 0;
};

// Tests 5 and 6.
struct IgmpDetails {
  std::vector<QueryRecord> queries;
};

struct HelloRecord {
  std::string sender;
  std::optional<std::uint16_t> holdtimeSeconds;
  std::optional<std::uint32_t> drPriority;
  std::optional<std::uint32_t> generationId;
};

// Test 8.
struct PimDetails {
  std::vector<HelloRecord> hellos;
  std::vector<std::string> rpAdvertisers;
};

using TestDetails =
    std::variant<std::monostate, BeaconDetails, PingDetails, IgmpDetails, PimDetails>;

enum class TestOutcome { Succeeded, Failed, Error };

// The socket call that ended a test, as its failure text names it; a raw
// socket failure names no call.
struct TestError {
  std::optional<std::string> call;
  std::int32_t code = 0;
};

struct TestRecord {
  int number = 0;
  // The header line as printed, without its leading tab and line end.
  std::string header;
  TestOutcome outcome = TestOutcome::Failed;
  std::optional<TestError> error;
  std::uint32_t durationMs = 0;
  TestDetails details;
};

inline constexpr std::size_t kTestsPerPass = 8;

using TestRecords = std::array<TestRecord, kTestsPerPass>;
