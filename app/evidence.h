// The values a finding rests on, typed: named fields in a fixed order whose
// values are addresses, integers, numbers, texts, lists or records of their
// own. A rule fills them; each output renders them its own way, so none has
// to parse another's text to learn an address or a count.
#pragma once

#include <concepts>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "net/address.h"

struct EvidenceValue;
struct EvidenceField;
using EvidenceList = std::vector<EvidenceValue>;

// Which renderings carry a field, as iproute2's PRINT_ANY and PRINT_FP do:
// the sentence names a few things (the interface, why a row of the report
// holds) that the JSON, whose layout scripts rely on, has never carried.
enum class Shown { Everywhere, SentenceOnly };

class Evidence {
 public:
  // Appends a field: fields keep the order they were added in.
  Evidence& add(std::string name, EvidenceValue value, Shown shown = Shown::Everywhere);

  [[nodiscard]] const std::vector<EvidenceField>& fields() const { return fields_; }

  // The value of field `name`; std::out_of_range when there is none, which
  // is a renderer asking for what its rule never fills.
  [[nodiscard]] const EvidenceValue& at(std::string_view name) const;
  // The field is there and holds a value, not null.
  [[nodiscard]] bool has(std::string_view name) const;

  // The value of field `name` as its type; std::bad_variant_access when it
  // holds another.
  [[nodiscard]] std::int64_t integer(std::string_view name) const;
  [[nodiscard]] double number(std::string_view name) const;
  [[nodiscard]] const std::string& text(std::string_view name) const;
  [[nodiscard]] const net::Address& address(std::string_view name) const;
  [[nodiscard]] bool flag(std::string_view name) const;
  [[nodiscard]] const EvidenceList& list(std::string_view name) const;
  [[nodiscard]] const Evidence& record(std::string_view name) const;

 private:
  std::vector<EvidenceField> fields_;
};

struct EvidenceValue {
  // Null is a value the rule could not learn (a querier that told no
  // robustness); the field is still there, so the layout stays fixed.
  using Value = std::variant<std::monostate, bool, std::int64_t, double, std::string, net::Address,
                             EvidenceList, Evidence>;
  Value value;

  // Implicit, so that a rule writes add("port", beacon.port): the value's
  // C++ type picks its kind. Defined below, once every type is complete.
  EvidenceValue() = default;
  template <std::integral T>
  requires(!std::same_as<T, bool>) EvidenceValue(T integer);
  EvidenceValue(bool flag);
  EvidenceValue(double number);
  EvidenceValue(std::string text);
  EvidenceValue(const char* text);
  EvidenceValue(const net::Address& address);
  EvidenceValue(EvidenceList list);
  EvidenceValue(Evidence record);
  EvidenceValue(const std::vector<net::Address>& addresses);
  // Null when there is nothing.
  template <typename T>
  EvidenceValue(const std::optional<T>& maybe);

  [[nodiscard]] bool isNull() const { return std::holds_alternative<std::monostate>(value); }
  template <typename T>
  [[nodiscard]] const T& as() const {
    return std::get<T>(value);
  }
};

struct EvidenceField {
  std::string name;
  EvidenceValue value;
  Shown shown = Shown::Everywhere;
};

template <std::integral T>
requires(!std::same_as<T, bool>) EvidenceValue::EvidenceValue(T integer)
    : value(static_cast<std::int64_t>(integer)) {}

template <typename T>
EvidenceValue::EvidenceValue(const std::optional<T>& maybe) {
  if (maybe) *this = EvidenceValue(*maybe);
}
