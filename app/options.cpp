#include "app/options.h"

#include <CLI/CLI.hpp>
#include <charconv>
#include <sstream>
#include <system_error>

#ifndef CORVANITE_VERSION
#error "the build defines CORVANITE_VERSION"
#endif

namespace options {
namespace {

constexpr const char* kSynopsis =
    "Usage: corvanite [-i NAME|ADDRESS] [--asm-group GROUP:PORT]\n"
    "                 [--ssm-channel SOURCE,GROUP:PORT] [--once] [--json]\n"
    "                 [--repeat SECONDS]\n";

bool inBlock(const net::Address& address, std::uint32_t block, int prefixLength) {
  const std::uint32_t mask = prefixLength == 0 ? 0U : ~0U << (32 - prefixLength);
  return (address.v4HostOrder() & mask) == block;
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

std::string describeAsmGroup(const std::string& text) {
  const auto colon = text.rfind(':');
  if (colon == std::string::npos) return "'" + text + "' is not of the form GROUP:PORT";
  const auto group = net::Address::parseV4(text.substr(0, colon));
  if (!group) return "'" + text.substr(0, colon) + "' is not an IPv4 address";
  if (!parsePort(std::string_view(text).substr(colon + 1))) {
    return "'" + text.substr(colon + 1) + "' is not a port from 1 to 65535";
  }
  return groupProblem(*group);
}

std::string describeSsmChannel(const std::string& text) {
  const auto comma = text.find(',');
  if (comma == std::string::npos) return "'" + text + "' is not of the form SOURCE,GROUP:PORT";
  const auto source = net::Address::parseV4(text.substr(0, comma));
  if (!source) return "'" + text.substr(0, comma) + "' is not an IPv4 address";
  if (auto problem = sourceProblem(*source); !problem.empty()) return problem;
  return describeAsmGroup(text.substr(comma + 1));
}

}  // namespace

EarlyExit usageError(const std::string& line) {
  return EarlyExit{
      kUsageErrorStatus, "",
      "corvanite: " + line + "\n" + kSynopsis + "Run 'corvanite --help' for every option.\n"};
}

std::optional<AsmGroup> parseAsmGroup(const std::string& text) {
  if (!describeAsmGroup(text).empty()) return std::nullopt;
  const auto colon = text.rfind(':');
  return AsmGroup{*net::Address::parseV4(text.substr(0, colon)),
                  *parsePort(std::string_view(text).substr(colon + 1))};
}

std::optional<SsmChannel> parseSsmChannel(const std::string& text) {
  if (!describeSsmChannel(text).empty()) return std::nullopt;
  const auto comma = text.find(',');
  const auto group = *parseAsmGroup(text.substr(comma + 1));
  return SsmChannel{*net::Address::parseV4(text.substr(0, comma)), group.group, group.port};
}

std::string groupProblem(const net::Address& group) {
  if (!group.isMulticast()) return "the group must be a multicast address";
  if (inBlock(group, 0xE0000000U, 24)) {
    return "the group must not be link-local (224.0.0.0/24): routers do not forward it";
  }
  return "";
}

std::string sourceProblem(const net::Address& source) {
  if (source.isMulticast()) return "the source must be a unicast address";
  if (inBlock(source, 0x00000000U, 8) || inBlock(source, 0x7F000000U, 8) ||
      inBlock(source, 0xF0000000U, 4)) {
    return "the source must be a unicast address outside 0/8, 127/8 and 240/4";
  }
  return "";
}

RunOptions defaultRunOptions() {
  RunOptions options;
  options.asmGroup = *parseAsmGroup(kDefaultAsmGroup);
  options.ssmChannel = *parseSsmChannel(kDefaultSsmChannel);
  return options;
}

std::variant<RunOptions, EarlyExit> parseCommandLine(std::span<const char* const> arguments) {
  // The plain run: nothing to read, and building the parser costs more than
  // the rest of the start-up together.
  if (arguments.empty()) return defaultRunOptions();
  CLI::App app{
      "Tests which IPv4 multicast services work from this host: beacon groups, "
      "the first-hop router's IGMP and PIM, and the link-local router groups.",
      "corvanite"};
  app.get_formatter()->column_width(40);
  app.set_version_flag("--version", std::string("corvanite ") + CORVANITE_VERSION);

  std::string interfaceChoice;
  std::string asmGroup = kDefaultAsmGroup;
  std::string ssmChannel = kDefaultSsmChannel;
  bool once = false;
  bool json = false;
  bool explain = false;
  std::int32_t repeatSeconds = 0;
  std::string prometheusFile;

  auto* interfaceOption =
      app.add_option("-i,--interface", interfaceChoice,
                     "The interface every test uses, by name or by one of its IPv4 addresses")
          ->type_name("NAME|ADDRESS");
  app.add_option("--asm-group", asmGroup, "The any-source beacon group of tests 1 and 5")
      ->type_name("GROUP:PORT")
      ->capture_default_str()
      ->check(CLI::Validator(describeAsmGroup, ""));
  app.add_option("--ssm-channel", ssmChannel, "The source-specific beacon channel of tests 2 and 6")
      ->type_name("SOURCE,GROUP:PORT")
      ->capture_default_str()
      ->check(CLI::Validator(describeSsmChannel, ""));
  auto* onceFlag = app.add_flag("--once", once,
                                "Run one pass without the prompt; the exit "
                                "status tells whether all eight tests succeeded");
  app.add_flag("--json", json, "Print one JSON object per pass instead of the text");
  app.add_flag("--explain", explain,
               "After each report, the diagnosis: why the link works as it does, with the "
               "evidence and the RFC behind each finding (JSON always carries it)");
  app.add_option("--repeat", repeatSeconds,
                 "Run a pass every SECONDS seconds until interrupted (at least 35)")
      ->type_name("SECONDS")
      ->check(CLI::Range(kMinimumRepeatSeconds, 24 * 3600).description(""))
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
  RunOptions options;
  if (!prometheusFile.empty()) options.prometheusFile = prometheusFile;
  if (!interfaceChoice.empty()) options.interfaceChoice = interfaceChoice;
  options.asmGroup = *parseAsmGroup(asmGroup);
  options.ssmChannel = *parseSsmChannel(ssmChannel);
  options.once = once;
  options.json = json;
  options.explain = explain;
  if (app.count("--repeat") > 0) options.repeatSeconds = repeatSeconds;
  return options;
}

}  // namespace options
