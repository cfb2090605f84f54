// Passes with their records filled, for the tests of what renders them.
#pragma once

#include <optional>
#include <utility>
#include <vector>

#include "app/battery.h"
#include "app/findings.h"
#include "app/pass_observer.h"
#include "app/pass_report.h"
#include "net/address.h"

namespace testing_support {

inline net::Address ipv4(const char* text) { return *net::Address::parseV4(text); }

// Every test ran and found nothing: the details name what each probed.
inline PassFindings passThatFoundNothing() {
  PassFindings pass = freshFindings();
  for (TestRecord& record : pass.tests) {
    record.ran = true;
    record.outcome = TestOutcome::Failed;
    record.durationMs = 2000;
  }
  const auto beacon = [](const char* group, std::uint16_t port,
                         std::optional<net::Address> source) {
    BeaconDetails details;
    details.group = ipv4(group);
    details.port = port;
    details.source = source;
    details.socketOpened = true;
    return details;
  };
  pass.find(TestId::AsmBeacon)->details = beacon("233.4.200.19", 10002, std::nullopt);
  pass.find(TestId::SsmBeacon)->details = beacon("232.64.133.120", 8020, ipv4("198.51.100.20"));
  pass.find(TestId::AllRoutersPing)->details = PingDetails{net::kAllRoutersGroup, {}};
  pass.find(TestId::SsmRoutersPing)->details = PingDetails{net::kIgmpV3RoutersGroup, {}};
  pass.find(TestId::AnySourceMembership)->details =
      MembershipDetails{ipv4("233.4.200.19"), 1, {}, false};
  pass.find(TestId::SourceMembership)->details =
      MembershipDetails{ipv4("232.64.133.120"), 3, {}, false};
  pass.find(TestId::PimRoutersPing)->details = PingDetails{net::kAllPimRoutersGroup, {}};
  pass.find(TestId::PimHello)->details = PimDetails{};
  return pass;
}

// A pass with something in every field.
inline PassFindings samplePass() {
  PassFindings pass = passThatFoundNothing();
  pass.chosenInterface = InterfaceSummary{"eth0", "10.0.1.2", "host-name"};
  for (TestRecord& record : pass.tests) record.outcome = TestOutcome::Succeeded;
  std::get<BeaconDetails>(pass.tests[0].details).members = {{ipv4("198.51.100.20"), 20},
                                                            {ipv4("198.51.100.21"), 3}};
  pass.tests[1].outcome = TestOutcome::Error;
  pass.tests[1].error = TestError{TestError::Kind::SocketCall, "SetOption", 105};
  std::get<PingDetails>(pass.tests[2].details).replies = {{ipv4("10.0.1.1"), 0.4125}};
  pass.tests[3].outcome = TestOutcome::Failed;
  MembershipQuery query;
  query.sender = ipv4("10.0.1.1");
  query.destination = ipv4("233.4.200.19");
  query.version = 3;
  query.group = ipv4("233.4.200.19");
  query.maxResponseMs = 1000;
  query.robustness = 2;
  query.queryIntervalSeconds = 125;
  pass.tests[4].details = MembershipDetails{ipv4("233.4.200.19"), 1, {{query, 2004.5}}, true};
  pass.tests[5].outcome = TestOutcome::Error;
  pass.tests[5].error = TestError{TestError::Kind::RawSocket, std::nullopt, 1};
  std::get<PingDetails>(pass.tests[6].details).replies = {{ipv4("10.0.1.1"), 1.0}};
  pass.tests[7].details =
      PimDetails{{{ipv4("10.0.1.1"), HelloOptions{105, 1, 0xDEADBEEF}},
                  {ipv4("10.0.1.9"), HelloOptions{std::nullopt, std::nullopt, std::nullopt}}},
                 {ipv4("10.255.0.1")}};
  return pass;
}

// Runs one battery as a whole pass of its own, told to `observer`, and hands
// back its records.
inline void runPassInto(net::Network& network, const PassSetup& setup, PassObserver& observer,
                        PassFindings& findings) {
  PassReport report = PassReport::startingNow();
  runPass(network, setup, observer, report);
  if (observer.stillWanted()) observer.passComplete(report);
  if (!report.batteries.empty()) findings = report.batteries.back().findings;
}

// A pass of these batteries, in this order, at `timing`.
inline PassReport reportOf(const PassTiming& timing, std::vector<PassFindings> batteries) {
  PassReport report;
  report.timing = timing;
  for (PassFindings& findings : batteries) {
    report.batteries.push_back(reportBattery(std::move(findings)));
  }
  return report;
}

inline std::vector<Finding> diagnosisOf(const PassFindings& findings) {
  return reportBattery(findings).diagnosis;
}

}  // namespace testing_support
