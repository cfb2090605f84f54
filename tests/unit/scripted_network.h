// A network that plays a script instead of the operating system's, so that the
// battery's tests, whole passes and the report run without root, without
// sockets and without waiting. Time is the script's own: pauses and listening
// windows move a clock that starts at zero, and datagrams arrive at the
// moments the script gives them.
#pragma once

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <span>
#include <string>
#include <vector>

#include "net/network.h"
#include "net/packet/ip_datagram.h"
#include "net/packet/wire.h"
#include "net/socket_exceptions.h"

namespace testing_support {

using std::chrono::milliseconds;

// The kinds of socket a probe opens.
// QueryWatch: the pass's watch on general queries, open through all its tests.
enum class SocketKind { Receiver, Pinger, IgmpCapture, PimCapture, BeaconCapture, QueryWatch };

// A datagram that reaches a socket `after` its trigger: a send for a reply,
// the socket's opening for one that just arrives.
struct Arrival {
  std::vector<std::uint8_t> bytes;
  net::Endpoint sender;
  milliseconds after{0};
};

// What a socket sent, and when on the script's clock.
struct Sent {
  SocketKind kind;
  std::vector<std::uint8_t> bytes;
  net::Endpoint destination;
  milliseconds at;
};

struct MembershipChange {
  net::Membership change;
  net::Address group;
  std::optional<net::Address> source;
  unsigned int interfaceIndex;
};

// What answers the sockets of one kind: datagrams that arrive once each
// socket is open, and replies to what it sends.
struct SocketScript {
  std::vector<Arrival> arrivals;
  // How many datagrams the socket's queue holds while nobody reads it; what
  // arrives on a full queue is dropped, as the kernel drops it. No limit
  // when unset.
  std::optional<std::size_t> queueCapacity;
  std::function<std::vector<Arrival>(std::span<const std::uint8_t> sent,
                                     const net::Endpoint& destination)>
      replies;
};

// A failed call: of the `nth` socket of its kind (0 for the first), at the
// call the platform names ("socket" for opening, "Bind", "IPV6_HOPOPTS",
// "SetOption", "sendTo", "select", "recvFrom", "WSAIoctl"), the `occurrence`th time that
// socket makes it (0 for the first).
struct ScriptedFailure {
  SocketKind kind;
  int nth = 0;
  std::string call;
  std::int32_t code = 0;
  int occurrence = 0;
  // When set, the platform does not offer the call's option at all, and says so.
  std::optional<std::string> lacking = std::nullopt;
};

class ScriptedNetwork final : public net::Network {
 public:
  // Which arrivals a socket's kernel-side filter lets in; all when empty.
  using Keep = std::function<bool(const std::vector<std::uint8_t>&)>;

  std::map<SocketKind, SocketScript> scripts;
  std::vector<ScriptedFailure> failures;
  // When set, raw sockets cannot be opened: CV_RawSocketException(code).
  std::optional<std::int32_t> rawSocketsRefused;
  // When set, requireLinkUp fails with this error number.
  std::optional<std::int32_t> linkDownError;
  // Whether the platform has a beacon capture at all.
  bool beaconCaptures = true;
  net::HostMulticastState host;
  // What the first reads of the host's state return, in turn, before `host`:
  // a host whose state changes during the pass (test 2 reads it, then the end).
  std::vector<net::HostMulticastState> hostEarlier;
  // Groups a socket of the host holds already, as the kernel's list has them.
  std::set<net::Address> heldGroups;
  // The interfaces the host routes each destination by; an empty list is no
  // route at all, a destination not listed one the platform tells nothing of.
  std::map<net::Address, std::vector<std::string>> routes;

  std::vector<Sent> sent;
  std::vector<MembershipChange> memberships;
  // What each kind of socket was last asked to capture.
  std::map<SocketKind, net::CaptureRequest> requests;
  // Each pass's link as the battery announced it for its captures: when, and
  // after how many messages sent.
  struct PreparedLink {
    net::PassLink link;
    milliseconds at;
    std::size_t sentBefore = 0;
  };
  std::vector<PreparedLink> preparedLinks;
  std::vector<std::uint32_t> pauses;
  // What each beacon capture was asked to keep.
  std::vector<net::CaptureRequest> beaconCaptureRequests;
  // How long opening a capture takes on the virtual clock.
  milliseconds captureOpensIn{0};

  std::unique_ptr<net::ProbeSocket> openReceiver(net::Family /*family*/,
                                                 std::uint16_t /*port*/) override {
    return open(SocketKind::Receiver, std::nullopt);
  }
  std::unique_ptr<net::ProbeSocket> openPinger(const net::CaptureRequest& replies,
                                               const net::PassLink& link) override {
    refuseRawIfScripted();
    auto socket = open(SocketKind::Pinger, std::nullopt);
    if (link.chosen) net::requireLinkToBindTo(link);
    requests[SocketKind::Pinger] = replies;
    return socket;
  }
  std::unique_ptr<net::ProbeSocket> openCapturing(const net::CaptureRequest& request,
                                                  const net::PassLink& link) override {
    refuseRawIfScripted();
    // Only the pass's watch asks for what goes to all hosts; it holds no
    // ring, so it opens at once.
    if (request.destination) {
      auto watch = open(SocketKind::QueryWatch, link);
      requests[SocketKind::QueryWatch] = request;
      return watch;
    }
    // IGMP, or MLD on ICMPv6.
    const bool membership = request.protocol == 2 || request.protocol == 58;
    const SocketKind kind = membership ? SocketKind::IgmpCapture : SocketKind::PimCapture;
    auto socket = open(kind, link);
    requests[kind] = request;
    // What arrives while the capture opens is captured already.
    clock_ += captureOpensIn;
    return socket;
  }
  void prepareCaptures(const net::PassLink& link) override {
    preparedLinks.push_back(PreparedLink{link, clock_, sent.size()});
  }
  // After how many messages sent each pass gave its captures up.
  std::vector<std::size_t> capturesReleased;
  void releaseCaptures() override { capturesReleased.push_back(sent.size()); }
  std::unique_ptr<net::ProbeSocket> openBeaconCapture(const net::CaptureRequest& request,
                                                      const net::PassLink& link) override {
    if (!beaconCaptures) return nullptr;
    refuseRawIfScripted();
    beaconCaptureRequests.push_back(request);
    // The kernel's filter, read from the request: the protocol, the
    // destination and its port, the source when given.
    return open(SocketKind::BeaconCapture, link, [=](const std::vector<std::uint8_t>& bytes) {
      const auto datagram = net::parseDatagram(bytes);
      if (!datagram || datagram->protocol != request.protocol ||
          (request.destination && datagram->destination != request.destination->address) ||
          (request.source && datagram->source != *request.source)) {
        return false;
      }
      return !request.destination || request.destination->port == 0 ||
             net::readBe16(datagram->payload, 2) == request.destination->port;
    });
  }
  net::HostMulticastState hostState(const net::PassLink& /*link*/) override {
    if (hostEarlier.empty()) return host;
    const net::HostMulticastState earlier = hostEarlier.front();
    hostEarlier.erase(hostEarlier.begin());
    return earlier;
  }
  bool hostHoldsGroup(const net::Address& group, const net::PassLink& /*link*/) override {
    return heldGroups.contains(group);
  }
  std::optional<std::vector<std::string>> routeInterfaces(const net::Address& destination,
                                                          const net::PassLink& /*link*/) override {
    const auto found = routes.find(destination);
    if (found == routes.end()) return std::nullopt;
    return found->second;
  }
  void requireLinkUp(const net::PassLink& link, const char* operation) override {
    if (link.chosen && linkDownError) throw net::CV_SocketException(*linkDownError, operation);
  }
  void pause(std::uint32_t ms) override {
    pauses.push_back(ms);
    clock_ += milliseconds(ms);
  }
  std::chrono::steady_clock::time_point now() override {
    return std::chrono::steady_clock::time_point(clock_);
  }

  [[nodiscard]] milliseconds clock() const { return clock_; }

  // What sockets of `kind` sent, in order.
  [[nodiscard]] std::vector<Sent> sentBy(SocketKind kind) const {
    std::vector<Sent> matching;
    std::copy_if(sent.begin(), sent.end(), std::back_inserter(matching),
                 [kind](const Sent& s) { return s.kind == kind; });
    return matching;
  }

 private:
  class Socket final : public net::ProbeSocket {
   public:
    Socket(ScriptedNetwork& network, SocketKind kind, int nth, const Keep& keep)
        : network_(network), kind_(kind), nth_(nth) {
      for (const Arrival& arrival : network_.scripts[kind_].arrivals) {
        if (!keep || keep(arrival.bytes)) queue(arrival);
      }
    }

    void sendTo(std::span<const std::uint8_t> message, const net::Endpoint& destination) override {
      fail("sendTo");
      network_.sent.push_back(Sent{kind_, std::vector<std::uint8_t>(message.begin(), message.end()),
                                   destination, network_.clock_});
      const auto& replies = network_.scripts[kind_].replies;
      if (!replies) return;
      for (const Arrival& reply : replies(message, destination)) queue(reply);
    }

    void listen(std::int32_t timeOutMs, const net::DatagramHandler& onDatagram) override {
      const milliseconds deadline = network_.clock_ + milliseconds(std::max(timeOutMs, 0));
      fail("select");
      std::stable_sort(pending_.begin(), pending_.end(),
                       [](const Pending& a, const Pending& b) { return a.at < b.at; });
      dropWhatAFullQueueLost();
      while (!pending_.empty() && pending_.front().at < deadline) {
        const Pending next = pending_.front();
        pending_.erase(pending_.begin());
        network_.clock_ = std::max(network_.clock_, next.at);
        fail("recvFrom");
        // A capture stamps a datagram when it arrived; a socket's queue, when read.
        const bool captured = kind_ == SocketKind::IgmpCapture || kind_ == SocketKind::PimCapture ||
                              kind_ == SocketKind::QueryWatch;
        const net::ReceivedDatagram datagram{
            next.bytes, next.sender,
            captured ? std::chrono::steady_clock::time_point(next.at) : network_.now()};
        if (onDatagram(datagram) == net::AfterDatagram::StopListening) return;
      }
      network_.clock_ = std::max(network_.clock_, deadline);
    }

    void drain(const net::DatagramHandler& onDatagram) override {
      std::stable_sort(pending_.begin(), pending_.end(),
                       [](const Pending& a, const Pending& b) { return a.at < b.at; });
      dropWhatAFullQueueLost();
      while (!pending_.empty() && pending_.front().at <= network_.clock_) {
        const Pending next = pending_.front();
        pending_.erase(pending_.begin());
        fail("recvFrom");
        // The watch reads its queue between tests: a query keeps its arrival.
        const net::ReceivedDatagram datagram{next.bytes, next.sender,
                                             kind_ == SocketKind::QueryWatch
                                                 ? std::chrono::steady_clock::time_point(next.at)
                                                 : network_.now()};
        if (onDatagram(datagram) == net::AfterDatagram::StopListening) return;
      }
    }

    void changeMembership(net::Membership change, const net::Address& group,
                          const std::optional<net::Address>& source,
                          unsigned int interfaceIndex) override {
      fail("SetOption");
      network_.memberships.push_back(MembershipChange{change, group, source, interfaceIndex});
    }

   private:
    struct Pending {
      std::vector<std::uint8_t> bytes;
      net::Endpoint sender;
      milliseconds at;
    };

    // What arrived since the socket was last read waited in its queue; past
    // the queue's capacity it was lost.
    void dropWhatAFullQueueLost() {
      const auto capacity = network_.scripts[kind_].queueCapacity;
      if (!capacity) return;
      std::size_t waiting = 0;
      std::erase_if(pending_, [&](const Pending& datagram) {
        if (datagram.at > network_.clock_) return false;
        return ++waiting > *capacity;
      });
    }

    void fail(const std::string& call) {
      network_.failIfScripted(kind_, nth_, call, calls_[call]++);
    }

    void queue(const Arrival& arrival) {
      pending_.push_back(Pending{arrival.bytes, arrival.sender, network_.clock_ + arrival.after});
    }

    ScriptedNetwork& network_;
    SocketKind kind_;
    int nth_;
    std::vector<Pending> pending_;
    std::map<std::string, int> calls_;
  };

  void failIfScripted(SocketKind kind, int nth, const std::string& call, int occurrence = 0) const {
    for (const ScriptedFailure& failure : failures) {
      if (failure.kind == kind && failure.nth == nth && failure.call == call &&
          failure.occurrence == occurrence) {
        if (failure.lacking) {
          throw net::CV_PlatformLacksException(failure.code, call, *failure.lacking);
        }
        throw net::CV_SocketException(failure.code, call);
      }
    }
  }

  void refuseRawIfScripted() const {
    if (rawSocketsRefused) throw net::CV_RawSocketException(*rawSocketsRefused);
  }

  std::unique_ptr<net::ProbeSocket> open(SocketKind kind,
                                         const std::optional<net::PassLink>& bindTo,
                                         const Keep& keep = nullptr) {
    const int nth = opened_[kind]++;
    failIfScripted(kind, nth, "socket");
    if (bindTo) net::requireLinkToBindTo(*bindTo);
    failIfScripted(kind, nth, "Bind");
    // The MLD capture's Router Alert, then the receive-all mode.
    failIfScripted(kind, nth, "IPV6_HOPOPTS");
    failIfScripted(kind, nth, "WSAIoctl");
    return std::make_unique<Socket>(*this, kind, nth, keep);
  }

  milliseconds clock_{0};
  std::map<SocketKind, int> opened_;
};

}  // namespace testing_support
