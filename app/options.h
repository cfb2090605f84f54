// The command line. Without arguments the tool runs the interactive battery
// with its built-in beacons; every option changes that run and nothing else.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <variant>
#include <vector>

#include "net/address.h"

namespace options {

// An any-source group and its UDP port.
struct AsmGroup {
  net::Address group;
  std::uint16_t port = 0;
};

// A source-specific channel: one source, one group, a UDP port.
struct SsmChannel {
  net::Address source;
  net::Address group;
  std::uint16_t port = 0;
};

// What one family's battery listens to: tests 1 and 2 receive from these,
// tests 5 and 6 probe for them.
struct Beacons {
  AsmGroup asmGroup;
  SsmChannel ssmChannel;
};

inline constexpr const char* kDefaultAsmGroup = "233.4.200.19:10002";
// The source is from the documentation range of RFC 5737: the tool names no
// real host unless the user gives one.
inline constexpr const char* kDefaultSsmChannel = "198.51.100.20,232.64.133.120:8020";
// IPv6's: a group based on the documentation prefix 2001:db8::/32 (RFC 3306),
// and a channel in ff3x::/32 (RFC 4607) from a documentation source.
inline constexpr const char* kDefaultAsmGroup6 = "[ff3e:20:2001:db8::19]:10002";
inline constexpr const char* kDefaultSsmChannel6 = "2001:db8::20,[ff3e::120]:8020";

// A pass repeats no sooner than the holdtime its PIM Hello announces (30 s)
// has run out, with 5 s to spare, so that every pass meets the router as a
// fresh neighbour.
inline constexpr std::int32_t kMinimumRepeatSeconds = 35;

// How long a watch lasts: a number of seconds, or until interrupted.
struct WatchSpan {
  std::optional<std::int64_t> seconds;
  [[nodiscard]] bool forever() const { return !seconds; }
};

// Longer than the default membership interval (260 s, RFC 3376 8.4), so
// that a link without a querier shows its outage within the default watch.
inline constexpr std::int64_t kDefaultWatchSeconds = 300;

struct RunOptions {
  // A name or an address as the user typed it; net resolves it to an interface.
  std::optional<std::string> interfaceChoice;
  // The batteries a pass runs, IPv4's first.
  std::vector<net::Family> families{net::Family::V4};
  // Each family's beacons, IPv4's first: see beaconsOf.
  std::array<Beacons, 2> beacons;
  bool once = false;
  bool json = false;
  bool explain = false;
  std::optional<std::int32_t> repeatSeconds;
  // Where each pass's metrics go, replaced whole after every pass.
  std::optional<std::string> prometheusFile;
  // A watch of the beacons instead of passes.
  std::optional<WatchSpan> watch;

  // One pass and no prompt: asked for, or implied by machine-read output.
  [[nodiscard]] bool singlePass() const { return once || (json && !repeatSeconds); }
  [[nodiscard]] const Beacons& beaconsOf(net::Family family) const {
    return beacons.at(family == net::Family::V4 ? 0 : 1);
  }
  [[nodiscard]] Beacons& beaconsOf(net::Family family) {
    return beacons.at(family == net::Family::V4 ? 0 : 1);
  }
};

// What the command line asks for instead of a run: help or the version on
// standard output with status 0, or a usage error on standard error with 2.
struct EarlyExit {
  int status = 0;
  std::string standardOutput;
  std::string standardError;
};

inline constexpr int kUsageErrorStatus = 2;

// What a run without arguments uses.
RunOptions defaultRunOptions();

// Reads the arguments after the program name. Nothing is printed here.
std::variant<RunOptions, EarlyExit> parseCommandLine(std::span<const char* const> arguments);

// A usage error: `line` after "corvanite: ", then the usage, on standard error.
EarlyExit usageError(const std::string& line);

// The option values, also used to tell a bad value precisely. Each returns
// nullopt for a text that is not exactly of its form: GROUP:PORT and
// SOURCE,GROUP:PORT for IPv4, [GROUP]:PORT and SOURCE,[GROUP]:PORT for IPv6.
std::optional<AsmGroup> parseAsmGroup(const std::string& text);
std::optional<SsmChannel> parseSsmChannel(const std::string& text);

// --watch's DURATION: N, Ns, Nm or Nh (at least 1 s), or "forever".
std::optional<WatchSpan> parseWatchDuration(const std::string& text);

// Why a value is refused, or the empty text when it is fine.
std::string groupProblem(const net::Address& group);
std::string sourceProblem(const net::Address& source);

}  // namespace options
