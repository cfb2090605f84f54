#include "app/options.h"

#include <CLI/CLI.hpp>
#include <algorithm>
#include <charconv>
#include <sstream>
#include <system_error>

#ifndef CORVANITE_VERSION
#error "the build defines CORVANITE_VERSION"
#endif

namespace options {
namespace {

// Whether `text` holds an IPv6 group in brackets.
bool bracketed(std::string_view text) { return !text.empty() && text.front() == '['; }

constexpr const char* kSynopsis =
    "Usage: corvanite [-4] [-6] [-i NAME|ADDRESS] [--asm-group GROUP:PORT]\n"
    "                 [--ssm-channel SOURCE,GROUP:PORT] [--once] [--json]\n"
    "                 [--explain] [--repeat SECONDS] [--watch [DURATION]]\n"
    "                 [--prometheus FILE] [--help] [--version]\n";

bool inBlock(const net::Address& address, std::string_view block) {
  return net::Prefix::parse(block)->contains(address);
}

// An address of either family alone, without a zone: what a group or source is.
std::optional<net::Address> unscoped(std::string_view text) {
  const auto address = net::Address::parse(text);
  if (!address || address->scopeId() != 0) return std::nullopt;
  return address;
}

// A whole decimal number in [low, high], digits only: no sign, no blanks.
template <typename Number>
std::optional<Number> parseDecimal(std::string_view text, Number low, Number high) {
  if (text.empty() || text.size() > 10) return std::nullopt;
  std::uint64_t value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc{} || end != text.data() + text.size()) return std::nullopt;
  if (value < static_cast<std::uint64_t>(low) || value > static_cast<std::uint64_t>(high)) {
    return std::nullopt;
  }
  return static_cast<Number>(value);
}

// GROUP:PORT with the port's own message, since a bad port is the usual slip.
std::optional<std::uint16_t> parsePort(std::string_view text) {
  return parseDecimal<std::uint16_t>(text, 1, 65535);
}

// [GROUP]:PORT
std::string describeAsmGroup6(const std::string& text) {
  const auto close = text.find(']');
  if (close == std::string::npos || close + 1 >= text.size() || text[close + 1] != ':') {
    return "'" + text + "' is not of the form [GROUP]:PORT";
  }
  const std::string inside = text.substr(1, close - 1);
  const auto group = unscoped(inside);
  if (!group || group->isV4()) return "'" + inside + "' is not an IPv6 address";
  if (!parsePort(std::string_view(text).substr(close + 2))) {
    return "'" + text.substr(close + 2) + "' is not a port from 1 to 65535";
  }
  return groupProblem(*group);
}

std::string describeAsmGroup(const std::string& text) {
  if (bracketed(text)) return describeAsmGroup6(text);
  const auto colon = text.rfind(':');
  if (colon == std::string::npos) return "'" + text + "' is not of the form GROUP:PORT";
  const auto group = unscoped(text.substr(0, colon));
  if (!group || !group->isV4()) return "'" + text.substr(0, colon) + "' is not an IPv4 address";
  if (!parsePort(std::string_view(text).substr(colon + 1))) {
    return "'" + text.substr(colon + 1) + "' is not a port from 1 to 65535";
  }
  return groupProblem(*group);
}

std::string describeSsmChannel(const std::string& text) {
  const auto comma = text.find(',');
  if (comma == std::string::npos) return "'" + text + "' is not of the form SOURCE,GROUP:PORT";
  // The group's form names the family; the source must be of the same.
  const bool ipv6 = bracketed(std::string_view(text).substr(comma + 1));
  const std::string sourceText = text.substr(0, comma);
  const auto source = unscoped(sourceText);
  if (!source || source->isV4() == ipv6)
    return "'" + sourceText + "' is not an " + (ipv6 ? "IPv6" : "IPv4") + " address";
  if (auto problem = sourceProblem(*source); !problem.empty()) return problem;
  return describeAsmGroup(text.substr(comma + 1));
}

// A multiple of a second: N, Ns, Nm or Nh.
std::optional<std::int64_t> parseWatchSeconds(std::string_view text) {
  std::int64_t unit = 1;
  if (!text.empty() && (text.back() == 's' || text.back() == 'm' || text.back() == 'h')) {
    unit = text.back() == 's' ? 1 : text.back() == 'm' ? 60 : 3600;
    text.remove_suffix(1);
  }
  // Up to ten years: any longer is a slip, and the product stays far from overflow.
  const auto count = parseDecimal<std::int64_t>(text, 1, 10LL * 366 * 24 * 3600 / unit);
  if (!count) return std::nullopt;
  return *count * unit;
}

}  // namespace

std::optional<WatchSpan> parseWatchDuration(const std::string& text) {
  if (text == "forever") return WatchSpan{};
  const auto seconds = parseWatchSeconds(text);
  if (!seconds) return std::nullopt;
  return WatchSpan{*seconds};
}

EarlyExit usageError(const std::string& line) {
  return EarlyExit{
      kUsageErrorStatus, "",
      "corvanite: " + line + "\n" + kSynopsis + "Run 'corvanite --help' for every option.\n"};
}

std::optional<AsmGroup> parseAsmGroup(const std::string& text) {
  if (!describeAsmGroup(text).empty()) return std::nullopt;
  const auto colon = text.rfind(':');
  const auto group =
      bracketed(text) ? unscoped(text.substr(1, colon - 2)) : unscoped(text.substr(0, colon));
  return AsmGroup{*group, *parsePort(std::string_view(text).substr(colon + 1))};
}

std::optional<SsmChannel> parseSsmChannel(const std::string& text) {
  if (!describeSsmChannel(text).empty()) return std::nullopt;
  const auto comma = text.find(',');
  const auto group = *parseAsmGroup(text.substr(comma + 1));
  return SsmChannel{*unscoped(text.substr(0, comma)), group.group, group.port};
}

std::string groupProblem(const net::Address& group) {
  if (!group.isMulticast()) return "the group must be a multicast address";
  if (inBlock(group, "224.0.0.0/24")) {
    return "the group must not be link-local (224.0.0.0/24): routers do not forward it";
  }
  // RFC 4291 2.7: the low four bits of the second byte are the group's scope.
  if (!group.isV4() && (group.bytes()[1] & 0x0FU) <= 2) {
    return "the group's scope must be wider than link-local (ffx2::/16): routers do not "
           "forward it";
  }
  return "";
}

std::string sourceProblem(const net::Address& source) {
  if (source.isMulticast()) return "the source must be a unicast address";
  // Global unicast is 2000::/3 (RFC 4291 2.4).
  if (!source.isV4()) {
    if (!inBlock(source, "2000::/3")) {
      return "the source must be a global unicast address (2000::/3)";
    }
    return "";
  }
  if (inBlock(source, "0.0.0.0/8") || inBlock(source, "127.0.0.0/8") ||
      inBlock(source, "240.0.0.0/4")) {
    return "the source must be a unicast address outside 0/8, 127/8 and 240/4";
  }
  return "";
}

RunOptions defaultRunOptions() {
  RunOptions options;
  options.beaconsOf(net::Family::V4) = {*parseAsmGroup(kDefaultAsmGroup),
                                        *parseSsmChannel(kDefaultSsmChannel)};
  options.beaconsOf(net::Family::V6) = {*parseAsmGroup(kDefaultAsmGroup6),
                                        *parseSsmChannel(kDefaultSsmChannel6)};
  return options;
}

std::variant<RunOptions, EarlyExit> parseCommandLine(std::span<const char* const> arguments) {
  // The plain run: nothing to read, and building the parser costs more than
  // the rest of the start-up together.
  if (arguments.empty()) return defaultRunOptions();
  CLI::App app{
      "Tests which IPv4 and IPv6 multicast services work from this host: beacon groups, "
      "the first-hop router's IGMP or MLD and PIM, and the link-local router groups.",
      "corvanite"};
  app.get_formatter()->column_width(40);
  app.set_version_flag("--version", std::string("corvanite ") + CORVANITE_VERSION);

  std::string interfaceChoice;
  std::vector<std::string> asmGroups;
  std::vector<std::string> ssmChannels;
  bool ipv4 = false;
  bool ipv6 = false;
  bool once = false;
  bool json = false;
  bool explain = false;
  std::int32_t repeatSeconds = 0;
  std::string prometheusFile;
  std::string watchDuration;

  auto* interfaceOption =
      app.add_option("-i,--interface", interfaceChoice,
                     "The interface every test uses, by name or by one of its addresses "
                     "(of the family tested)")
          ->type_name("NAME|ADDRESS");
  app.add_flag("-4", ipv4, "Run the IPv4 battery (the default)");
  app.add_flag("-6", ipv6, "Run the IPv6 battery; with -4, both, IPv4 first");
  app.add_option("--asm-group", asmGroups,
                 "The any-source beacon group of tests 1 and 5, IPv6 in brackets; once for "
                 "each family")
      ->type_name("GROUP:PORT")
      ->allow_extra_args(false)
      ->take_all()
      ->default_str(std::string(kDefaultAsmGroup) + " " + kDefaultAsmGroup6)
      ->check(CLI::Validator(describeAsmGroup, ""));
  app.add_option("--ssm-channel", ssmChannels,
                 "The source-specific beacon channel of tests 2 and 6, IPv6 group in "
                 "brackets; once for each family")
      ->type_name("SOURCE,GROUP:PORT")
      ->allow_extra_args(false)
      ->take_all()
      ->default_str(std::string(kDefaultSsmChannel) + " " + kDefaultSsmChannel6)
      ->check(CLI::Validator(describeSsmChannel, ""));
  auto* onceFlag = app.add_flag("--once", once,
                                "Run one pass without the prompt; the exit status tells "
                                "whether every test of every family succeeded");
  app.add_flag("--json", json, "Print one JSON object per pass instead of the text");
  app.add_flag("--explain", explain,
               "After each report, the diagnosis: why the link works as it does, with the "
               "evidence and the RFC behind each finding (JSON always carries it)");
  app.add_option("--repeat", repeatSeconds,
                 "Run a pass every SECONDS seconds until interrupted (at least 35)")
      ->type_name("SECONDS")
      ->check(CLI::Range(kMinimumRepeatSeconds, 24 * 3600).description(""))
      ->excludes(onceFlag);
  // The duration is optional: `--watch` followed by another option or by
  // nothing watches for the default span.
  auto* watchOption =
      app.add_option("--watch", watchDuration,
                     "Instead of passes, watch the beacons for DURATION (seconds, or with s, "
                     "m or h; 'forever' until interrupted; 300 s when omitted): every "
                     "datagram, query, report and PIM neighbour, each outage and its cause")
          ->type_name("[DURATION]")
          ->expected(0, 1)
          ->excludes(onceFlag);
  auto* prometheusOption =
      app.add_option("--prometheus", prometheusFile,
                     "After every pass, replace FILE whole with the pass's metrics in the "
                     "Prometheus text format (for node_exporter's textfile collector)")
          ->type_name("FILE");
  app.footer(
      "Exit status: 0 when every test succeeded (with --once or --json), 1 when a test "
      "failed, hit an error or the metrics file could not be written, 2 for a usage error; "
      "130 or 143 when interrupted.");

  // CLI11 reads argv[0] as the program name; the arguments come after it.
  std::vector<const char*> argv{"corvanite"};
  argv.insert(argv.end(), arguments.begin(), arguments.end());
  try {
    app.parse(static_cast<int>(argv.size()), argv.data());
  } catch (const CLI::CallForHelp&) {
    return EarlyExit{0, app.help(), ""};
  } catch (const CLI::CallForVersion& version) {
    return EarlyExit{0, std::string(version.what()) + "\n", ""};
  } catch (const CLI::ParseError& failure) {
    return usageError(failure.what());
  }

  if (interfaceOption->count() > 0 && interfaceChoice.empty()) {
    return usageError("--interface: the name or address is empty");
  }
  if (prometheusOption->count() > 0 && (prometheusFile.empty() || prometheusFile.back() == '/')) {
    return usageError("--prometheus: the file name is empty");
  }
  RunOptions options = defaultRunOptions();
  if (watchOption->count() > 0) {
    if (app.count("--repeat") > 0) return usageError("--watch excludes --repeat");
    if (ipv4 && ipv6) return usageError("--watch: one family at a time, -4 or -6");
    const auto span = watchDuration.empty() ? std::optional<WatchSpan>(WatchSpan{})
                                            : parseWatchDuration(watchDuration);
    if (!span) {
      return usageError("--watch: '" + watchDuration +
                        "' is not a duration (N, Ns, Nm, Nh from 1 s, or forever)");
    }
    options.watch = watchDuration.empty() ? WatchSpan{kDefaultWatchSeconds} : *span;
  }
  if (!prometheusFile.empty()) options.prometheusFile = prometheusFile;
  if (!interfaceChoice.empty()) options.interfaceChoice = interfaceChoice;
  if (ipv6)
    options.families =
        ipv4 ? std::vector{net::Family::V4, net::Family::V6} : std::vector{net::Family::V6};
  // Each family's beacons at most once.
  std::vector<net::Family> given;
  for (const std::string& text : asmGroups) {
    const AsmGroup group = *parseAsmGroup(text);
    if (std::find(given.begin(), given.end(), group.group.family()) != given.end()) {
      return usageError("--asm-group: given twice for IPv" +
                        std::string(group.group.isV4() ? "4" : "6"));
    }
    given.push_back(group.group.family());
    options.beaconsOf(group.group.family()).asmGroup = group;
  }
  given.clear();
  for (const std::string& text : ssmChannels) {
    const SsmChannel channel = *parseSsmChannel(text);
    if (std::find(given.begin(), given.end(), channel.group.family()) != given.end()) {
      return usageError("--ssm-channel: given twice for IPv" +
                        std::string(channel.group.isV4() ? "4" : "6"));
    }
    given.push_back(channel.group.family());
    options.beaconsOf(channel.group.family()).ssmChannel = channel;
  }
  options.once = once;
  options.json = json;
  options.explain = explain;
  if (app.count("--repeat") > 0) options.repeatSeconds = repeatSeconds;
  return options;
}

}  // namespace options
