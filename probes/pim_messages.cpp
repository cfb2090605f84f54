#include "probes/pim_messages.h"

#include <exception>
#include <stdexcept>

#include "net/packet/ip_datagram.h"
#include "net/packet/wire.h"
#include "net/process.h"

namespace {

// The header: version and type in the first byte, then reserved and checksum.
constexpr std::size_t kVersionTypeOffset = 0;
constexpr std::size_t kChecksumOffset = 2;
constexpr std::size_t kHeaderLength = 4;
constexpr std::uint8_t kVersion2 = 0x20;
constexpr std::uint8_t kVersionMask = 0xF0;
constexpr std::uint8_t kTypeMask = 0x0F;
constexpr std::uint8_t kHelloType = 0;
constexpr std::uint8_t kBootstrapType = 4;
constexpr std::uint8_t kCandidateRpAdvertisementType = 8;
constexpr auto kPimNextHeader = static_cast<std::uint8_t>(kPimProtocol);

// Hello options are type, length, then the value.
constexpr std::uint16_t kHoldtimeOption = 1;
constexpr std::uint16_t kDrPriorityOption = 19;
constexpr std::uint16_t kGenerationIdOption = 20;
constexpr std::uint16_t kAddressListOption = 24;
constexpr std::size_t kOptionLengthOffset = 2;
constexpr std::size_t kOptionValueOffset = 4;

// Where each option of the Hello this tool sends begins.
constexpr std::size_t kHoldtimeAt = 4;
constexpr std::size_t kDrPriorityAt = 10;
constexpr std::size_t kGenerationIdAt = 18;

// An Address List option's value: Encoded-Unicast addresses one after the
// other (RFC 7761 4.9.1), each an address family (1 IPv4, 2 IPv6), an
// encoding type (0, native) and the address. The list ends at the first
// entry it cannot read: what follows has no known start.
//  0                   1                   2                   3
// +---------------+---------------+-------------------------------+
// | Addr Family   | Encoding Type | Unicast Address (4 or 16) ...
// +---------------+---------------+-------------------------------+
std::vector<net::Address> readAddressList(std::span<const std::uint8_t> value) {
  constexpr std::uint8_t kIpv4Family = 1;
  constexpr std::uint8_t kIpv6Family = 2;
  constexpr std::uint8_t kNativeEncoding = 0;
  std::vector<net::Address> addresses;
  std::size_t at = 0;
  while (at + 2 <= value.size()) {
    const std::uint8_t family = value[at];
    std::size_t length = 0;
    if (family == kIpv4Family) length = 4;
    if (family == kIpv6Family) length = 16;
    if (length == 0 || value[at + 1] != kNativeEncoding || !net::holds(value, at + 2, length)) {
      break;
    }
    if (const auto address = net::Address::fromBytes(value.subspan(at + 2, length))) {
      addresses.push_back(*address);
    }
    at += 2 + length;
  }
  return addresses;
}

HelloOptions readHelloOptions(std::span<const std::uint8_t> options) {
  HelloOptions read;
  std::size_t at = 0;
  while (const auto type = net::readBe16(options, at)) {
    const auto length = net::readBe16(options, at + kOptionLengthOffset);
    const std::size_t value = at + kOptionValueOffset;
    if (!length || !net::holds(options, value, *length)) break;
    if (*type == kHoldtimeOption && *length == 2) {
      read.holdtimeSeconds = net::readBe16(options, value);
    } else if (*type == kDrPriorityOption && *length == 4) {
      read.drPriority = net::readBe32(options, value);
    } else if (*type == kGenerationIdOption && *length == 4) {
      read.generationId = net::readBe32(options, value);
    } else if (*type == kAddressListOption) {
      read.otherAddresses = readAddressList(options.subspan(value, *length));
    }
    at = value + *length;
  }
  return read;
}

// The Hello with its checksum field still zero.
std::array<std::uint8_t, 26> uncheckedHello(std::uint32_t generationId,
                                            std::uint16_t holdtimeSeconds) {
  std::array<std::uint8_t, 26> message{};
  message[kVersionTypeOffset] = kVersion2 | kHelloType;
  net::putBe16(message, kHoldtimeAt, kHoldtimeOption);
  net::putBe16(message, kHoldtimeAt + kOptionLengthOffset, 2);
  net::putBe16(message, kHoldtimeAt + kOptionValueOffset, holdtimeSeconds);
  net::putBe16(message, kDrPriorityAt, kDrPriorityOption);
  net::putBe16(message, kDrPriorityAt + kOptionLengthOffset, 4);
  net::putBe32(message, kDrPriorityAt + kOptionValueOffset, 0);
  net::putBe16(message, kGenerationIdAt, kGenerationIdOption);
  net::putBe16(message, kGenerationIdAt + kOptionLengthOffset, 4);
  net::putBe32(message, kGenerationIdAt + kOptionValueOffset, generationId);
  return message;
}

}  // namespace

std::array<std::uint8_t, 26> pimHello(std::uint32_t generationId, std::uint16_t holdtimeSeconds) {
  auto message = uncheckedHello(generationId, holdtimeSeconds);
  net::putChecksum(message, kChecksumOffset);
  return message;
}

std::array<std::uint8_t, 26> pimHelloV6(std::uint32_t generationId, const net::Address& source,
                                        const net::Address& destination,
                                        std::uint16_t holdtimeSeconds) {
  if (source.isV4() || destination.isV4()) {
    throw std::invalid_argument("a PIMv6 Hello goes between IPv6 addresses");
  }
  auto message = uncheckedHello(generationId, holdtimeSeconds);
  net::putBe16(
      message, kChecksumOffset,
      net::internetChecksum(message, net::PseudoHeader{source, destination, kPimNextHeader}));
  return message;
}

net::CaptureRequest pimMessageCapture(net::Family family) {
  net::CaptureRequest messages{family, kPimProtocol, {}, {}, {}, {}};
  messages.messageTypes = {kVersion2 | kHelloType, kVersion2 | kCandidateRpAdvertisementType};
  if (family == net::Family::V6) messages.messageTypes.push_back(kVersion2 | kBootstrapType);
  return messages;
}

std::optional<PimMessage> readPimMessage(std::span<const std::uint8_t> datagram) {
  const auto ip = net::parseDatagram(datagram);
  if (!ip || ip->protocol != kPimProtocol || ip->payload.size() < kHeaderLength) {
    return std::nullopt;
  }
  const std::uint8_t versionType = ip->payload[kVersionTypeOffset];
  if ((versionType & kVersionMask) != kVersion2) return std::nullopt;
  PimMessage message;
  message.sender = ip->source;
  switch (versionType & kTypeMask) {
    case kHelloType:
      message.type = PimMessage::Type::Hello;
      message.hello = readHelloOptions(ip->payload.subspan(kHeaderLength));
      break;
    case kCandidateRpAdvertisementType:
      message.type = PimMessage::Type::CandidateRpAdvertisement;
      break;
    case kBootstrapType:
      message.type = PimMessage::Type::Bootstrap;
      break;
    default:
      break;
  }
  return message;
}

std::optional<PimMessage> readPimMessage(std::span<const std::uint8_t> datagram,
                                         net::Family expected) {
  auto message = readPimMessage(datagram);
  if (message && message->sender.family() != expected) return std::nullopt;
  return message;
}

std::uint32_t generationIdFrom(const std::function<std::uint32_t()>& entropy) {
  try {
    return entropy();
  } catch (const std::exception&) {
    // splitmix64's finaliser spreads the few changing bits over all 32.
    std::uint64_t mixed =
        (static_cast<std::uint64_t>(net::processId()) << 32U) | net::tickCountMs();
    mixed = (mixed ^ (mixed >> 30U)) * 0xBF58476D1CE4E5B9ULL;
    mixed = (mixed ^ (mixed >> 27U)) * 0x94D049BB133111EBULL;
    return static_cast<std::uint32_t>(mixed ^ (mixed >> 31U));
  }
}
