#include "app/options.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <initializer_list>
#include <sstream>
#include <string>
#include <vector>

#include "net/address.h"

namespace {

using options::EarlyExit;
using options::RunOptions;

std::variant<RunOptions, EarlyExit> parse(std::initializer_list<const char*> words) {
  const std::vector<const char*> arguments(words);
  return options::parseCommandLine(arguments);
}

RunOptions parsedOptions(std::initializer_list<const char*> words) {
  auto result = parse(words);
  if (const auto* early = std::get_if<EarlyExit>(&result)) {
    ADD_FAILURE() << "refused: " << early->standardError;
    return {};
  }
  return std::get<RunOptions>(result);
}

// A usage error: status 2, nothing on standard output, and the first line
// of standard error names the problem.
std::string refusal(std::initializer_list<const char*> words) {
  auto result = parse(words);
  const auto* early = std::get_if<EarlyExit>(&result);
  if (early == nullptr) {
    ADD_FAILURE() << "accepted";
    return {};
  }
  EXPECT_EQ(early->status, 2);
  EXPECT_EQ(early->standardOutput, "");
  EXPECT_NE(early->standardError.find("\nUsage: corvanite "), std::string::npos);
  return early->standardError.substr(0, early->standardError.find('\n'));
}

std::string text(const net::Address& address) { return address.toString(); }

TEST(Options, NoArgumentsGiveTheBuiltInBattery) {
  const RunOptions options = parsedOptions({});
  EXPECT_FALSE(options.interfaceChoice.has_value());
  const auto& v4 = options.beaconsOf(net::Family::V4);
  EXPECT_EQ(text(v4.asmGroup.group), "233.4.200.19");
  EXPECT_EQ(v4.asmGroup.port, 10002);
  EXPECT_EQ(text(v4.ssmChannel.source), "198.51.100.20");
  EXPECT_EQ(text(v4.ssmChannel.group), "232.64.133.120");
  EXPECT_EQ(v4.ssmChannel.port, 8020);
  const auto& v6 = options.beaconsOf(net::Family::V6);
  EXPECT_EQ(text(v6.asmGroup.group), "ff3e:20:2001:db8::19");
  EXPECT_EQ(text(v6.ssmChannel.source), "2001:db8::20");
  EXPECT_EQ(text(v6.ssmChannel.group), "ff3e::120");
  EXPECT_FALSE(options.singlePass());
  EXPECT_FALSE(options.repeatSeconds.has_value());
  // No arguments skip the parser; its defaults must be the same.
  const RunOptions parsed = parsedOptions({"--once"});
  for (const net::Family family : {net::Family::V4, net::Family::V6}) {
    const auto& fromParser = parsed.beaconsOf(family);
    const auto& builtIn = options.beaconsOf(family);
    EXPECT_EQ(fromParser.asmGroup.group, builtIn.asmGroup.group);
    EXPECT_EQ(fromParser.asmGroup.port, builtIn.asmGroup.port);
    EXPECT_EQ(fromParser.ssmChannel.source, builtIn.ssmChannel.source);
    EXPECT_EQ(fromParser.ssmChannel.group, builtIn.ssmChannel.group);
    EXPECT_EQ(fromParser.ssmChannel.port, builtIn.ssmChannel.port);
  }
  EXPECT_FALSE(parsed.interfaceChoice.has_value());
}

TEST(Options, ValuesInBothSpellings) {
  const RunOptions options = parsedOptions(
      {"-i", "eth1", "--asm-group", "239.1.2.3:5000", "--ssm-channel=10.9.8.7,232.1.1.1:65535"});
  EXPECT_EQ(options.interfaceChoice, "eth1");
  const auto& v4 = options.beaconsOf(net::Family::V4);
  EXPECT_EQ(text(v4.asmGroup.group), "239.1.2.3");
  EXPECT_EQ(v4.asmGroup.port, 5000);
  EXPECT_EQ(text(v4.ssmChannel.source), "10.9.8.7");
  EXPECT_EQ(text(v4.ssmChannel.group), "232.1.1.1");
  EXPECT_EQ(v4.ssmChannel.port, 65535);
  EXPECT_EQ(parsedOptions({"--interface=10.0.1.2"}).interfaceChoice, "10.0.1.2");
}

TEST(Options, JsonImpliesOnePassUnlessRepeated) {
  EXPECT_TRUE(parsedOptions({"--once"}).singlePass());
  EXPECT_TRUE(parsedOptions({"--json"}).singlePass());
  const RunOptions repeated = parsedOptions({"--json", "--repeat", "35"});
  EXPECT_FALSE(repeated.singlePass());
  EXPECT_EQ(repeated.repeatSeconds, 35);
  EXPECT_FALSE(parsedOptions({"--repeat", "60"}).singlePass());
}

TEST(Options, PrometheusNamesTheMetricsFileInEveryMode) {
  EXPECT_FALSE(parsedOptions({"--once"}).prometheusFile.has_value());
  EXPECT_EQ(parsedOptions({"--prometheus", "/var/lib/x/corvanite-eth0.prom"}).prometheusFile,
            "/var/lib/x/corvanite-eth0.prom");
  const RunOptions scripted = parsedOptions({"--json", "--repeat", "300", "--prometheus=m.prom"});
  EXPECT_EQ(scripted.prometheusFile, "m.prom");
  EXPECT_FALSE(scripted.singlePass());
  EXPECT_EQ(refusal({"--prometheus", ""}), "corvanite: --prometheus: the file name is empty");
  EXPECT_EQ(refusal({"--prometheus", "/var/lib/x/"}),
            "corvanite: --prometheus: the file name is empty");
  EXPECT_NE(refusal({"--prometheus"}).find("--prometheus"), std::string::npos);
}

TEST(Options, HelpAndVersionGoToStandardOutput) {
  for (const char* word : {"-h", "--help"}) {
    auto result = parse({word});
    const auto& early = std::get<EarlyExit>(result);
    EXPECT_EQ(early.status, 0);
    EXPECT_EQ(early.standardError, "");
    for (const char* option : {"--interface", "--asm-group", "--ssm-channel", "--once", "--json",
                               "--repeat", "--prometheus FILE", "--version", "233.4.200.19:10002",
                               "198.51.100.20,232.64.133.120:8020"}) {
      EXPECT_NE(early.standardOutput.find(option), std::string::npos) << option;
    }
  }
  auto version = parse({"--version"});
  EXPECT_EQ(std::get<EarlyExit>(version).standardOutput,
            std::string("corvanite ") + CORVANITE_TEST_VERSION + "\n");
}

// The synopsis a usage error prints names every option --help lists, so a
// new option cannot be left out of it.
TEST(Options, SynopsisNamesEveryOption) {
  const std::string help = std::get<EarlyExit>(parse({"--help"})).standardOutput;
  auto refused = parse({"--no-such-option"});
  const std::string& error = std::get<EarlyExit>(refused).standardError;
  const std::string synopsis = error.substr(error.find("Usage: "));
  std::vector<std::string> listed;
  std::istringstream lines(help);
  for (std::string line; std::getline(lines, line);) {
    // Option lines start with blanks then a dash: "  -i,--interface NAME|ADDRESS ...".
    const auto first = line.find_first_not_of(' ');
    if (first == std::string::npos || first == 0 || line[first] != '-') continue;
    std::istringstream words(line.substr(first));
    std::string names;
    words >> names;
    // "-i,--interface" is one option: the synopsis may give either spelling.
    std::vector<std::string> spellings;
    for (std::size_t start = 0; start <= names.size();) {
      const auto comma = std::min(names.find(',', start), names.size());
      spellings.push_back(names.substr(start, comma - start));
      start = comma + 1;
    }
    listed.push_back(names);
    const bool named =
        std::any_of(spellings.begin(), spellings.end(), [&](const std::string& word) {
          return synopsis.find("[" + word + "]") != std::string::npos ||
                 synopsis.find("[" + word + " ") != std::string::npos;
        });
    EXPECT_TRUE(named) << names << " is missing from\n" << synopsis;
  }
  // Every option of the tool: the scan above did find them.
  EXPECT_EQ(listed.size(), 13U) << help;
}

TEST(Options, GroupsMustBeRoutableMulticast) {
  EXPECT_EQ(refusal({"--asm-group", "10.1.1.1:10002"}),
            "corvanite: --asm-group: the group must be a multicast address");
  EXPECT_EQ(refusal({"--asm-group", "224.0.0.251:5353"}),
            "corvanite: --asm-group: the group must not be link-local (224.0.0.0/24): "
            "routers do not forward it");
  EXPECT_EQ(refusal({"--ssm-channel", "10.9.8.7,224.0.0.22:8020"}),
            "corvanite: --ssm-channel: the group must not be link-local (224.0.0.0/24): "
            "routers do not forward it");
  // The edges of the ranges: 224.0.1.0 and 239.255.255.255 are routable groups.
  parsedOptions({"--asm-group", "224.0.1.0:1", "--ssm-channel", "1.0.0.0,239.255.255.255:2"});
  // Operators set their own SSM ranges: 232/8 is not required.
  parsedOptions({"--ssm-channel", "10.0.0.1,239.1.1.1:8020"});
}

TEST(Options, SourcesMustBeUnicastHosts) {
  for (const char* channel : {"0.1.2.3,232.1.1.1:8020", "127.0.0.1,232.1.1.1:8020",
                              "240.0.0.1,232.1.1.1:8020", "255.255.255.255,232.1.1.1:8020"}) {
    EXPECT_EQ(refusal({"--ssm-channel", channel}),
              "corvanite: --ssm-channel: the source must be a unicast address outside 0/8, "
              "127/8 and 240/4")
        << channel;
  }
  EXPECT_EQ(refusal({"--ssm-channel", "232.1.1.1,232.1.1.2:8020"}),
            "corvanite: --ssm-channel: the source must be a unicast address");
}

TEST(Options, MalformedValuesAreNamed) {
  EXPECT_EQ(refusal({"--asm-group", "233.4.200.19"}),
            "corvanite: --asm-group: '233.4.200.19' is not of the form GROUP:PORT");
  EXPECT_EQ(refusal({"--asm-group", "233.4.200.19:0"}),
            "corvanite: --asm-group: '0' is not a port from 1 to 65535");
  EXPECT_EQ(refusal({"--asm-group", "233.4.200.19:65536"}),
            "corvanite: --asm-group: '65536' is not a port from 1 to 65535");
  EXPECT_EQ(refusal({"--asm-group", "233.4.200.19:+5"}),
            "corvanite: --asm-group: '+5' is not a port from 1 to 65535");
  EXPECT_EQ(refusal({"--ssm-channel", "232.1.1.1:8020"}),
            "corvanite: --ssm-channel: '232.1.1.1:8020' is not of the form SOURCE,GROUP:PORT");
  EXPECT_EQ(refusal({"-i", ""}), "corvanite: --interface: the name or address is empty");
}

// The addresses in option values are exact dotted quads, as net::Address
// reads them; anything looser is named as no IPv4 address.
TEST(Options, AddressesInValuesAreExactDottedQuads) {
  EXPECT_TRUE(options::parseAsmGroup("239.0.0.0:1"));
  EXPECT_TRUE(options::parseSsmChannel("1.2.3.4,232.255.255.255:65535"));
  for (const std::string bad :
       {"", "239.1.2", "239.1.2.3.4", "239.1.2.256", "239.1.2.04", "239..2.3", " 239.1.2.3",
        "239.1.2.3 ", "0xEF.1.2.3", "+239.1.2.3", "239.1.2.3.", "ff3e::1", "239.1.2.3%1"}) {
    EXPECT_EQ(refusal({"--asm-group", (bad + ":5000").c_str()}),
              "corvanite: --asm-group: '" + bad + "' is not an IPv4 address")
        << '"' << bad << '"';
    EXPECT_EQ(refusal({"--ssm-channel", (bad + ",232.1.1.1:8020").c_str()}),
              "corvanite: --ssm-channel: '" + bad + "' is not an IPv4 address")
        << '"' << bad << '"';
  }
}

// A zone names an interface, which a group or a source has no use for.
TEST(Options, AddressesInValuesHaveNoZone) {
  EXPECT_EQ(refusal({"--asm-group", "[ff3e::1%2]:5000"}),
            "corvanite: --asm-group: 'ff3e::1%2' is not an IPv6 address");
  EXPECT_EQ(refusal({"--ssm-channel", "2001:db8::1%3,[ff3e::1]:8020"}),
            "corvanite: --ssm-channel: '2001:db8::1%3' is not an IPv6 address");
  EXPECT_TRUE(options::parseSsmChannel("2001:db8::1,[ff3e::1]:8020"));
}

TEST(Options, WordsThatAreNotOptionsAreRefused) {
  EXPECT_NE(refusal({"stray"}).find("stray"), std::string::npos);
  EXPECT_NE(refusal({"--no-such-option"}).find("--no-such-option"), std::string::npos);
  EXPECT_NE(refusal({"--once", "--repeat", "40"}).find("excludes"), std::string::npos);
  EXPECT_NE(refusal({"--repeat", "34"}).find("--repeat"), std::string::npos);
  EXPECT_NE(refusal({"--repeat", "soon"}).find("--repeat"), std::string::npos);
  EXPECT_NE(refusal({"--asm-group"}).find("--asm-group"), std::string::npos);
}

// A watch's span: the default when the next word is an option or nothing,
// each unit, forever, and every malformed or zero duration a usage error.
TEST(Options, WatchDurations) {
  EXPECT_FALSE(parsedOptions({}).watch.has_value());
  EXPECT_EQ(parsedOptions({"--watch"}).watch->seconds, 300);
  const RunOptions beforeOption = parsedOptions({"--watch", "--json"});
  EXPECT_EQ(beforeOption.watch->seconds, 300);
  EXPECT_TRUE(beforeOption.json);
  EXPECT_EQ(parsedOptions({"--watch", "90"}).watch->seconds, 90);
  EXPECT_EQ(parsedOptions({"--watch", "45s"}).watch->seconds, 45);
  EXPECT_EQ(parsedOptions({"--watch", "10m", "-6"}).watch->seconds, 600);
  EXPECT_EQ(parsedOptions({"--watch=2h"}).watch->seconds, 7200);
  EXPECT_TRUE(parsedOptions({"--watch", "forever"}).watch->forever());
  for (const char* bad : {"0", "0s", "-5", "5x", "m", "1.5m", "5 m", "99999999999", "Forever"}) {
    EXPECT_NE(refusal({"--watch", bad}).find("--watch"), std::string::npos) << bad;
  }
}

TEST(Options, WatchExcludesPassesAndTwoFamilies) {
  EXPECT_NE(refusal({"--watch", "--once"}).find("excludes"), std::string::npos);
  EXPECT_NE(refusal({"--watch", "60", "--repeat", "60"}).find("excludes"), std::string::npos);
  EXPECT_NE(refusal({"--watch", "-4", "-6"}).find("one family"), std::string::npos);
  const RunOptions watch =
      parsedOptions({"--watch", "1m", "--ssm-channel", "192.0.2.1,232.1.1.1:5000", "--explain",
                     "--prometheus", "/tmp/m.prom"});
  EXPECT_EQ(text(watch.beaconsOf(net::Family::V4).ssmChannel.group), "232.1.1.1");
  EXPECT_TRUE(watch.explain);
  EXPECT_EQ(*watch.prometheusFile, "/tmp/m.prom");
}

}  // namespace
