// Typed evidence and its JSON: the layout scripts read must not drift when a
// value's C++ type or a field's place changes.
#include "app/evidence.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <variant>

#include "app/finding_json.h"
#include "app/finding_text.h"

namespace {

const net::Address kRouter = *net::Address::parseV4("10.0.1.1");

TEST(Evidence, ValuesKeepTheirKindWhateverTheirWidth) {
  const std::uint8_t ttl = 61;
  const std::optional<std::uint32_t> none;
  Evidence evidence;
  evidence.add("lowest_ttl", ttl)
      .add("priority", none)
      .add("seconds", 260.0)
      .add("router", kRouter)
      .add("senders", std::vector<net::Address>{kRouter});
  EXPECT_EQ(evidence.integer("lowest_ttl"), 61) << "a byte is a number, not a character";
  EXPECT_TRUE(evidence.at("priority").isNull());
  EXPECT_FALSE(evidence.has("priority"));
  EXPECT_TRUE(evidence.has("seconds"));
  EXPECT_EQ(evidence.address("router"), kRouter);
  EXPECT_EQ(evidence.list("senders").at(0).as<net::Address>(), kRouter);
  EXPECT_THROW((void)evidence.integer("seconds"), std::bad_variant_access);
  EXPECT_THROW((void)evidence.text("no_such_field"), std::out_of_range);
}

TEST(FindingJson, FieldsInTheirOrderNumbersAsTheyWereAndSentenceFieldsLeftOut) {
  Finding finding{FindingId::BeaconTtl, Severity::Info, {}, ""};
  EvidenceList beacons;
  beacons.emplace_back(Evidence()
                           .add("beacon", "SSM")
                           .add("group", *net::Address::parseV6("ff3e::120"))
                           .add("port", std::uint16_t{8020})
                           .add("lowest_ttl", std::uint8_t{62})
                           .add("hidden", true, Shown::SentenceOnly));
  finding.evidence.add("beacons", std::move(beacons))
      .add("interface", "eth0", Shown::SentenceOnly)
      .add("membership_interval_s", 260.0)
      .add("address", std::optional<net::Address>{})
      .add("family", "ipv6");
  EXPECT_EQ(findingJson(finding).dump(),
            R"({"id":"beacon-ttl","severity":"info","summary":"The beacons arrive on eth0 with )"
            R"(a lowest hop limit of 62 (SSM ff3e::120): the hops each may still make beyond )"
            R"(this link.","evidence":{"beacons":[{"beacon":"SSM","group":"ff3e::120",)"
            R"("port":8020,"lowest_ttl":62}],"membership_interval_s":260.0,"address":null,)"
            R"("family":"ipv6"},"reference":null})");
}

TEST(FindingText, SentenceOfAFindingWithoutItsFieldsFailsLoudly) {
  // A rule that stops filling a field its sentence reads is caught here, not
  // printed as a sentence with a hole in it.
  Finding finding{FindingId::RouterIgnoresPings, Severity::Info, {}, ""};
  finding.evidence.add("address", kRouter).add("family", "ipv4");
  EXPECT_THROW((void)findingSentence(finding), std::out_of_range);
  finding.evidence.add("interface", 2);
  EXPECT_THROW((void)findingSentence(finding), std::bad_variant_access);
}

}  // namespace
