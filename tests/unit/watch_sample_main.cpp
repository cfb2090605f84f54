// Prints the JSON of a sample watch, one object per line, for the schema
// check: a link whose querier falls silent, so that every part of the object
// (groups, senders, queries, reports, events, an outage with its evidence)
// holds entries, and a watch that heard nothing at all.
#include <iostream>

#include "app/watch.h"
#include "app/watch_output.h"
#include "app/watch_run.h"

namespace {

net::Address address(const char* text) { return *net::Address::parse(text); }

}  // namespace

int main() {
  const std::vector<watch::Channel> channels{
      {address("233.4.200.19"), std::nullopt, 10002},
      {address("232.64.133.120"), address("198.51.100.20"), 8020}};
  watch::LinkWatch watch(channels, net::Family::V4);
  for (int tick = 0; tick < 400; ++tick) {
    const double t = tick * 0.1;
    if (tick % 50 == 0 && t < 20) {
      watch.query({t, address("192.0.2.1"), 3, watch::QueryKind::General, std::nullopt, 1, 5, 2});
      watch.report({t, watch::ReportKind::Report, 3, channels[0].group});
      watch.report({t, watch::ReportKind::Report, 3, channels[1].group});
    }
    watch.datagram(0, address("198.51.100.20"), 61, t);
    if (t < 30) watch.datagram(1, address("198.51.100.20"), 61, t);
  }
  watch.hello({1, address("192.0.2.1"), 105, 42});
  watch.report({39.95, watch::ReportKind::Leave, 3, channels[0].group});
  watch.advance(40);
  std::cout << watch::watchJson(watch, {"veth0", 40, 40}).dump() << "\n";
  const watch::LinkWatch quiet(channels, net::Family::V6);
  std::cout << watch::watchJson(quiet, {"eth0", std::nullopt, 0}).dump() << "\n";
  return 0;
}
