#include "app/evidence.h"

#include <algorithm>
#include <stdexcept>
#include <utility>

Evidence& Evidence::add(std::string name, EvidenceValue value, Shown shown) {
  fields_.push_back(EvidenceField{std::move(name), std::move(value), shown});
  return *this;
}

const EvidenceValue& Evidence::at(std::string_view name) const {
  const auto field = std::find_if(fields_.begin(), fields_.end(),
                                  [name](const EvidenceField& each) { return each.name == name; });
  if (field == fields_.end()) throw std::out_of_range("no evidence field " + std::string(name));
  return field->value;
}

bool Evidence::has(std::string_view name) const {
  return std::any_of(fields_.begin(), fields_.end(), [name](const EvidenceField& each) {
    return each.name == name && !each.value.isNull();
  });
}

std::int64_t Evidence::integer(std::string_view name) const { return at(name).as<std::int64_t>(); }

double Evidence::number(std::string_view name) const { return at(name).as<double>(); }

const std::string& Evidence::text(std::string_view name) const {
  return at(name).as<std::string>();
}

const net::Address& Evidence::address(std::string_view name) const {
  return at(name).as<net::Address>();
}

bool Evidence::flag(std::string_view name) const { return at(name).as<bool>(); }

const EvidenceList& Evidence::list(std::string_view name) const {
  return at(name).as<EvidenceList>();
}

const Evidence& Evidence::record(std::string_view name) const { return at(name).as<Evidence>(); }

EvidenceValue::EvidenceValue(bool flag) : value(flag) {}

EvidenceValue::EvidenceValue(double number) : value(number) {}

EvidenceValue::EvidenceValue(std::string text) : value(std::move(text)) {}

EvidenceValue::EvidenceValue(const char* text) : value(std::string(text)) {}

EvidenceValue::EvidenceValue(const net::Address& address) : value(address) {}

EvidenceValue::EvidenceValue(EvidenceList list) : value(std::move(list)) {}

EvidenceValue::EvidenceValue(Evidence record) : value(std::move(record)) {}

EvidenceValue::EvidenceValue(const std::vector<net::Address>& addresses)
    : value(EvidenceList(addresses.begin(), addresses.end())) {}
