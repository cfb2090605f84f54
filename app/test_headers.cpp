#include "app/test_headers.h"

#include <string_view>

#include "app/battery.h"

namespace {

// The row's header with the beacon's {group}, {source} and {port} filled in.
std::string filled(std::string_view header, const TestRecord& record) {
  std::string text;
  while (!header.empty()) {
    const auto open = header.find('{');
    const auto close = header.find('}', open);
    if (open == std::string_view::npos || close == std::string_view::npos) break;
    text += header.substr(0, open);
    const std::string_view name = header.substr(open + 1, close - open - 1);
    const auto& beacon = detailsOf<BeaconDetails>(record);
    if (name == "group") {
      text += beacon.group.toString();
    } else if (name == "source") {
      text += beacon.source.value_or(net::Address{}).toString();
    } else if (name == "port") {
      text += std::to_string(beacon.port);
    }
    header.remove_prefix(close + 1);
  }
  text += header;
  return text;
}

}  // namespace

std::string testHeader(const TestRecord& record, net::Family family) {
  const BatteryTest& test = batteryTest(record.id, family);
  return std::to_string(test.number) + ".  " + filled(test.header, record);
}
