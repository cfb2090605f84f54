#include "probes/membership_reports.h"

#include "net/packet/ip_datagram.h"
#include "net/packet/wire.h"

namespace {

constexpr std::uint8_t kIgmpProtocol = 2;
constexpr std::uint8_t kIgmpV1Report = 0x12;
constexpr std::uint8_t kIgmpV2Report = 0x16;
constexpr std::uint8_t kIgmpV2Leave = 0x17;
constexpr std::uint8_t kIgmpV3Report = 0x22;
constexpr std::uint8_t kMldV1Report = 131;
constexpr std::uint8_t kMldV1Done = 132;
constexpr std::uint8_t kMldV2Report = 143;
// RFC 3376 4.2.12 and RFC 3810 5.2.12.
constexpr std::uint8_t kChangeToInclude = 3;
constexpr std::uint8_t kBlockOldSources = 6;

std::optional<net::Address> addressAt(std::span<const std::uint8_t> bytes, std::size_t offset,
                                      std::size_t length) {
  if (!net::holds(bytes, offset, length)) return std::nullopt;
  return net::Address::fromBytes(bytes.subspan(offset, length));
}

// The records of an IGMPv3 or MLDv2 report (RFC 3376 4.2, RFC 3810 5.2):
//  0                   1                   2                   3
// +---------------+---------------+-------------------------------+
// |     Type      |   Reserved    |           Checksum            |
// +---------------+---------------+-------------------------------+
// |           Reserved            |  Number of Group Records (M)  |
// +-------------------------------+-------------------------------+
// | Record Type   |  Aux Data Len |     Number of Sources (N)     |
// |               Multicast Address (4 or 16 bytes)               |
// |               Source Address [1..N], Auxiliary Data            |
void readRecords(std::span<const std::uint8_t> message, int version, std::size_t addressLength,
                 std::vector<ReportRecord>& records) {
  const auto count = net::readBe16(message, 6);
  if (!count) return;
  std::size_t at = 8;
  for (std::uint16_t record = 0; record < *count; ++record) {
    const auto type = net::readByte(message, at);
    const auto auxWords = net::readByte(message, at + 1);
    const auto sources = net::readBe16(message, at + 2);
    const auto group = addressAt(message, at + 4, addressLength);
    if (!type || !auxWords || !sources || !group) return;
    const bool leaves = (*type == kChangeToInclude && *sources == 0) || *type == kBlockOldSources;
    records.push_back(ReportRecord{leaves ? ReportRecord::Kind::Leave : ReportRecord::Kind::Report,
                                   version, *group});
    at += 4 + addressLength + std::size_t{*sources} * addressLength + std::size_t{*auxWords} * 4;
  }
}

}  // namespace

std::vector<ReportRecord> readReportRecords(std::span<const std::uint8_t> datagram) {
  std::vector<ReportRecord> records;
  const auto ip = net::parseDatagram(datagram);
  if (!ip) return records;
  const std::span<const std::uint8_t> message = ip->payload;
  const auto type = net::readByte(message, 0);
  if (!type) return records;
  if (ip->family == net::Family::V4 && ip->protocol == kIgmpProtocol) {
    if (*type == kIgmpV3Report) {
      readRecords(message, 3, 4, records);
    } else if (*type == kIgmpV1Report || *type == kIgmpV2Report || *type == kIgmpV2Leave) {
      if (const auto group = addressAt(message, 4, 4)) {
        records.push_back(ReportRecord{
            *type == kIgmpV2Leave ? ReportRecord::Kind::Leave : ReportRecord::Kind::Report,
            *type == kIgmpV1Report ? 1 : 2, *group});
      }
    }
  } else if (ip->family == net::Family::V6 && ip->protocol == net::kIcmpv6Protocol) {
    if (*type == kMldV2Report) {
      readRecords(message, 2, 16, records);
    } else if (*type == kMldV1Report || *type == kMldV1Done) {
      if (const auto group = addressAt(message, 8, 16)) {
        records.push_back(ReportRecord{
            *type == kMldV1Done ? ReportRecord::Kind::Leave : ReportRecord::Kind::Report, 1,
            *group});
      }
    }
  }
  return records;
}
