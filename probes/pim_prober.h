// Says Hello to the link's PIM routers and collects who answers: the senders
// of PIM Hellos, and of Candidate-RP-Advertisements that pass the link.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "net/socket.h"
#include "probes/address_tables.h"
#include "probes/pim_hello_options.h"

class PimProber : public net::RawSocket {
 public:
  // Captures PIM from here on: routers answer a new neighbour within a few
  // milliseconds of its Hello.
  explicit PimProber(const net::PassLink& link);

  // Returns the byte count that the send reports.
  int sendHello();
  // Records PIM senders for the whole timeOutMs, never less.
  void receiveMessages(std::int32_t timeOutMs);

  std::string respondersText() const { return responders_.text(); }
  std::string rpText() const { return rendezvousPoints_.text(); }

  // The last Hello of each sender, in the order senders were first heard, up
  // to kMaxHellosKept senders: Hellos from a flood of forged sources must not
  // grow the record without bound.
  static constexpr std::size_t kMaxHellosKept = 256;
  const std::vector<HelloDetails>& hellos() const { return helloDetails_; }
  const std::vector<std::string>& rpAdvertisers() const { return rpSenders_; }

 private:
  void keepHello(const HelloDetails& hello);

  std::vector<HelloDetails> helloDetails_;
  std::vector<std::string> rpSenders_;
  AddressSet responders_;
  AddressSet rendezvousPoints_;
  std::uint32_t generationId_;
};
