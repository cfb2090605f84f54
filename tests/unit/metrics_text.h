// Reads the Prometheus text format back, strictly enough to catch a file that
// a scraper would refuse: every family's HELP and TYPE before its samples,
// no family twice, a line end after the last line.
#pragma once

#include <map>
#include <stdexcept>
#include <string>
#include <vector>

namespace testing_support {

struct MetricSample {
  std::string name;
  std::map<std::string, std::string> labels;
  double value = 0;
};

// Throws std::runtime_error naming the first line that breaks the format.
inline std::vector<MetricSample> readMetricsText(const std::string& text) {
  if (text.empty() || text.back() != '\n') throw std::runtime_error("no line end at the end");
  std::vector<MetricSample> samples;
  std::map<std::string, int> helpSeen;
  std::map<std::string, int> typeSeen;
  std::string current;
  std::size_t at = 0;
  while (at < text.size()) {
    const std::size_t end = text.find('\n', at);
    const std::string line = text.substr(at, end - at);
    at = end + 1;
    auto fail = [&](const char* why) { throw std::runtime_error(std::string(why) + ": " + line); };
    if (line.rfind("# HELP ", 0) == 0 || line.rfind("# TYPE ", 0) == 0) {
      const std::string rest = line.substr(7);
      const std::string name = rest.substr(0, rest.find(' '));
      auto& seen = line[2] == 'H' ? helpSeen : typeSeen;
      if (++seen[name] > 1) fail("a family described twice");
      if (line[2] == 'T' && rest != name + " gauge") fail("not a gauge");
      current = name;
      continue;
    }
    MetricSample sample;
    std::size_t i = 0;
    while (i < line.size() && line[i] != '{' && line[i] != ' ') sample.name += line[i++];
    if (sample.name != current || helpSeen[current] != 1 || typeSeen[current] != 1) {
      fail("a sample outside its family, or before its HELP and TYPE");
    }
    if (i < line.size() && line[i] == '{') {
      ++i;
      while (i < line.size() && line[i] != '}') {
        const std::size_t equals = line.find("=\"", i);
        if (equals == std::string::npos) fail("a label without a quoted value");
        const std::string key = line.substr(i, equals - i);
        std::string value;
        for (i = equals + 2; i < line.size() && line[i] != '"'; ++i) {
          if (line[i] == '\\') {
            if (++i == line.size()) fail("an escape at the end");
            value += line[i] == 'n' ? '\n' : line[i];
          } else {
            value += line[i];
          }
        }
        if (i == line.size()) fail("an unterminated label value");
        if (!sample.labels.emplace(key, value).second) fail("a label twice");
        ++i;
        if (i < line.size() && line[i] == ',') ++i;
      }
      if (i == line.size()) fail("unterminated labels");
      ++i;
    }
    if (i >= line.size() || line[i] != ' ') fail("no blank before the value");
    std::size_t used = 0;
    sample.value = std::stod(line.substr(i + 1), &used);
    if (i + 1 + used != line.size()) fail("something after the value");
    samples.push_back(sample);
  }
  return samples;
}

// The samples of one family, optionally only those whose `label` is `value`.
inline std::vector<MetricSample> samplesOf(const std::vector<MetricSample>& all,
                                           const std::string& name, const std::string& label = "",
                                           const std::string& value = "") {
  std::vector<MetricSample> found;
  for (const MetricSample& sample : all) {
    if (sample.name != name) continue;
    if (!label.empty() && (sample.labels.count(label) == 0 || sample.labels.at(label) != value)) {
      continue;
    }
    found.push_back(sample);
  }
  return found;
}

}  // namespace testing_support
