#include "probes/pim_messages.h"

#include <exception>

#include "net/ip_datagram.h"
#include "net/platform.h"
#include "net/wire.h"

namespace {

constexpr std::uint16_t kHoldtimeSeconds = 30;

// The Hello's fields; each option is type, length, then its value.
constexpr std::size_t kChecksumOffset = 2;
constexpr std::size_t kHoldtimeAt = 4;
constexpr std::size_t kDrPriorityAt = 10;
constexpr std::size_t kGenerationIdAt = 18;

}  // namespace

std::array<std::uint8_t, 26> pimHello(std::uint32_t generationId) {
  std::array<std::uint8_t, 26> message{};
  message[kPimVersionTypeOffset] = kPimVersion2Hello;
  net::putBe16(message, kHoldtimeAt, kPimHoldtimeOption);
  net::putBe16(message, kHoldtimeAt + kPimOptionLengthOffset, 2);
  net::putBe16(message, kHoldtimeAt + kPimOptionValueOffset, kHoldtimeSeconds);
  net::putBe16(message, kDrPriorityAt, kPimDrPriorityOption);
  net::putBe16(message, kDrPriorityAt + kPimOptionLengthOffset, 4);
  net::putBe32(message, kDrPriorityAt + kPimOptionValueOffset, 0);
  net::putBe16(message, kGenerationIdAt, kPimGenerationIdOption);
  net::putBe16(message, kGenerationIdAt + kPimOptionLengthOffset, 4);
  net::putBe32(message, kGenerationIdAt + kPimOptionValueOffset, generationId);
  net::putChecksum(message, kChecksumOffset);
  return message;
}

PimMessage readPimMessage(std::span<const std::uint8_t> datagram) {
  const auto ip = net::parseIpv4(datagram, 1);
  if (!ip || ip->protocol != kPimProtocol) return PimMessage::Other;
  switch (ip->payload[kPimVersionTypeOffset]) {
    case kPimVersion2Hello:
      return PimMessage::Hello;
    case kPimVersion2CandidateRpAdvertisement:
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
