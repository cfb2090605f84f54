#include "net/capture/capture_filter.h"

#include <array>
#include <cstdio>
#include <stdexcept>
#include <vector>

namespace net {

namespace {

// libpcap's names of the protocols the probes capture; each also names the
// protocol's header in an accessor such as igmp[0].
const char* protocolName(int protocol) {
  switch (protocol) {
    case 1:
      return "icmp";
    case 2:
      return "igmp";
    case 17:
      return "udp";
    case 58:
      return "icmp6";
    case 103:
      return "pim";
    default:
      throw std::invalid_argument("no filter name for IP protocol " + std::to_string(protocol));
  }
}

// "0x11" or "129", as the format asks.
std::string formatted(const char* format, unsigned int value) {
  std::array<char, 16> text{};
  std::snprintf(text.data(), text.size(), format, value);
  return text.data();
}

// "h[0] == 0x20", or several such alternatives in parentheses.
std::string firstByteIsOneOf(const std::string& header, const std::vector<std::uint8_t>& types,
                             const char* valueFormat) {
  std::string alternatives;
  for (const std::uint8_t type : types) {
    if (!alternatives.empty()) alternatives += " or ";
    alternatives += header + "[0] == " + formatted(valueFormat, type);
  }
  return types.size() > 1 ? "(" + alternatives + ")" : alternatives;
}

// [4:2] reads the identifier's two bytes big-endian, as the request holds it.
std::string identifierIs(const std::string& header, std::uint16_t identifier) {
  return header + "[4:2] == " + formatted("0x%04x", identifier);
}

void append(std::string& expression, const std::string& term) {
  if (!expression.empty()) expression += " and ";
  expression += term;
}

}  // namespace

std::string expressionFromIpHeader(const CaptureRequest& request) {
  const std::string header = protocolName(request.protocol);
  std::string expression = header;
  if (!request.messageTypes.empty()) {
    append(expression, firstByteIsOneOf(header, request.messageTypes, "0x%02x"));
  }
  if (request.echoIdentifier) append(expression, identifierIs(header, *request.echoIdentifier));
  if (request.destination) {
    // A scoped IPv6 address has no place in a datagram's header.
    append(expression, "dst host " + request.destination->address.withScope(0).toString());
    if (request.destination->port != 0) {
      append(expression, "dst port " + std::to_string(request.destination->port));
    }
  }
  if (request.source) append(expression, "src host " + request.source->withScope(0).toString());
  return expression;
}

std::string expressionFromIcmpv6Message(const CaptureRequest& request) {
  if (request.destination || request.source) {
    throw std::invalid_argument("an ICMPv6 message alone carries no addresses");
  }
  std::string expression;
  if (!request.messageTypes.empty()) {
    append(expression, firstByteIsOneOf("link", request.messageTypes, "%u"));
  }
  if (request.echoIdentifier) append(expression, identifierIs("link", *request.echoIdentifier));
  // An empty expression keeps every message.
  return expression;
}

std::string captureFilter(const std::string& probeFilter, const Address& ownAddress) {
  return "(" + probeFilter + ") and not src host " + ownAddress.toString();
}

}  // namespace net
