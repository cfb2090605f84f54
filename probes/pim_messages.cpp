#include "probes/pim_messages.h"

#include <exception>

#include "net/ip_datagram.h"
#include "net/platform.h"
#include "net/wire.h"

namespace {

constexpr std::uint8_t kVersion2Hello = 0x20;
constexpr std::uint8_t kVersion2CandidateRpAdvertisement = 0x28;
constexpr std::uint16_t kHoldtimeOption = 1;
constexpr std::uint16_t kHoldtimeSeconds = 30;
constexpr std::uint16_t kDrPriorityOption = 19;
constexpr std::uint16_t kGenerationIdOption = 20;

// The Hello's fields; each option is type, length, then its value.
constexpr std::size_t kVersionTypeOffset = 0;
constexpr std::size_t kChecksumOffset = 2;
constexpr std::size_t kHoldtimeAt = 4;
constexpr std::size_t kDrPriorityAt = 10;
constexpr std::size_t kGenerationIdAt = 18;
constexpr std::size_t kLengthOffset = 2;
constexpr std::size_t kValueOffset = 4;

}  // namespace

std::array<std::uint8_t, 26> pimHello(std::uint32_t generationId) {
  std::array<std::uint8_t, 26> message{};
  message[kVersionTypeOffset] = kVersion2Hello;
  net::putBe16(message, kHoldtimeAt, kHoldtimeOption);
  net::putBe16(message, kHoldtimeAt + kLengthOffset, 2);
  net::putBe16(message, kHoldtimeAt + kValueOffset, kHoldtimeSeconds);
  net::putBe16(message, kDrPriorityAt, kDrPriorityOption);
  net::putBe16(message, kDrPriorityAt + kLengthOffset, 4);
  net::putBe32(message, kDrPriorityAt + kValueOffset, 0);
  net::putBe16(message, kGenerationIdAt, kGenerationIdOption);
  net::putBe16(message, kGenerationIdAt + kLengthOffset, 4);
  net::putBe32(message, kGenerationIdAt + kValueOffset, generationId);
  net::putChecksum(message, kChecksumOffset);
  return message;
}

PimMessage readPimMessage(std::span<const std::uint8_t> datagram) {
  const auto ip = net::parseIpv4(datagram, 1);
  if (!ip || ip->protocol != kPimProtocol) return PimMessage::Other;
  switch (ip->payload[kVersionTypeOffset]) {
    case kVersion2Hello:
      return PimMessage::Hello;
    case kVersion2CandidateRpAdvertisement:
      return PimMessage::CandidateRpAdvertisement;
    default:
      return PimMessage::Other;
  }
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
