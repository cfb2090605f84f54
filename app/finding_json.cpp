#include "app/finding_json.h"

#include <string>

#include "app/finding_fix.h"
#include "app/finding_text.h"

namespace {

using json = nlohmann::ordered_json;

json valueJson(const EvidenceValue& value);

// The fields the JSON shows, in their order; a sentence's own are left out.
json recordJson(const Evidence& evidence) {
  json record = json::object();
  for (const EvidenceField& field : evidence.fields()) {
    if (field.shown == Shown::Everywhere) record[field.name] = valueJson(field.value);
  }
  return record;
}

// Addresses as text; integers and numbers as JSON's integers and numbers, so
// 260 and 260.0 stay what they are.
json valueJson(const EvidenceValue& value) {
  struct Writer {
    json operator()(std::monostate /*null*/) const { return nullptr; }
    json operator()(bool flag) const { return flag; }
    json operator()(std::int64_t integer) const { return integer; }
    json operator()(double number) const { return number; }
    json operator()(const std::string& text) const { return text; }
    json operator()(const net::Address& address) const { return address.toString(); }
    json operator()(const EvidenceList& list) const {
      json array = json::array();
      for (const EvidenceValue& item : list) array.push_back(valueJson(item));
      return array;
    }
    json operator()(const Evidence& record) const { return recordJson(record); }
  };
  return std::visit(Writer{}, value.value);
}

}  // namespace

json findingJson(const Finding& finding) {
  json object = {{"id", std::string(findingName(finding.id))},
                 {"severity", severityName(finding.severity)},
                 {"summary", findingSentence(finding)}};
  // Only problems and warnings have one; the key is left out, not null.
  if (const auto fix = findingFix(finding)) object["fix"] = *fix;
  object["evidence"] = recordJson(finding.evidence);
  object["reference"] = finding.reference.empty() ? json(nullptr) : json(finding.reference);
  return object;
}
