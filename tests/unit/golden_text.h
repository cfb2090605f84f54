// The end-to-end scenarios' golden texts with the lab's constants put in, as
// tests/e2e/lib.sh expands them, so that a scripted pass can be held to the
// very bytes the real tool prints in the lab.
#pragma once

#include <fstream>
#include <map>
#include <sstream>
#include <stdexcept>
#include <string>

#ifndef CORVANITE_SOURCE_DIR
#error "the build defines CORVANITE_SOURCE_DIR"
#endif

namespace testing_support {

inline std::string readSourceFile(const std::string& relativePath) {
  const std::string path = std::string(CORVANITE_SOURCE_DIR) + "/" + relativePath;
  std::ifstream file(path, std::ios::binary);
  if (!file) throw std::runtime_error("cannot read " + path);
  std::ostringstream text;
  text << file.rdbuf();
  return text.str();
}

// The lab's constants by name, from the file the lab itself reads.
inline std::map<std::string, std::string> labFacts() {
  std::map<std::string, std::string> facts;
  std::istringstream lines(readSourceFile("lab/facts.env"));
  for (std::string line; std::getline(lines, line);) {
    const auto equals = line.find('=');
    if (line.empty() || line[0] == '#' || equals == std::string::npos) continue;
    facts[line.substr(0, equals)] = line.substr(equals + 1);
  }
  return facts;
}

// The golden text tests/e2e/expected/`name`, its @PLACEHOLDERS@ replaced by
// the constants they stand for (tests/e2e/lib.sh's table).
inline std::string goldenText(const std::string& name) {
  std::string text = readSourceFile("tests/e2e/expected/" + name);
  const auto facts = labFacts();
  const std::map<std::string, std::string> placeholders{
      {"ROUTER", "ROUTER_ADDR"},    {"SSM_SOURCE", "SSM_SOURCE"},   {"ASM_GROUP", "ASM_GROUP"},
      {"SSM_GROUP", "SSM_GROUP"},   {"ASM_PORT", "ASM_PORT"},       {"SSM_PORT", "SSM_PORT"},
      {"ROUTER6_LL", "ROUTER6_LL"}, {"SSM6_SOURCE", "SSM6_SOURCE"}, {"ASM6_GROUP", "ASM6_GROUP"},
      {"SSM6_GROUP", "SSM6_GROUP"}, {"HOST6_LL", "HOST6_LL"},       {"ROUTER6", "ROUTER6_ADDR"}};
  for (const auto& [placeholder, fact] : placeholders) {
    const std::string marker = "@" + placeholder + "@";
    for (auto at = text.find(marker); at != std::string::npos; at = text.find(marker, at)) {
      text.replace(at, marker.size(), facts.at(fact));
    }
  }
  if (text.find('@') != std::string::npos) {
    throw std::runtime_error(name + " holds a placeholder this table lacks");
  }
  return text;
}

}  // namespace testing_support
