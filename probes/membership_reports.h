// The host's own membership reports and leaves, read from what a capture of
// its outgoing frames hands over: one record per group a message names.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "net/address.h"

struct ReportRecord {
  enum class Kind { Report, Leave };
  Kind kind = Kind::Report;
  // IGMP 1 to 3, MLD 1 or 2.
  int version = 0;
  net::Address group;
};

// For a datagram, IP header first: the groups an IGMP report or leave, or an
// MLD report or done, names; empty for anything else or a message cut short
// (a version 3 or MLDv2 record cut short ends the reading there). In the
// newer versions a record that leaves a group (TO_IN with no source, or
// BLOCK_OLD) counts as a leave, any other as a report.
std::vector<ReportRecord> readReportRecords(std::span<const std::uint8_t> datagram);
