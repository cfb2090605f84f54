// What the probes ask of the network: the sockets a probe opens, the pauses
// it makes and the clock it reads. The tool runs on the system's network
// (net/system_network.h); a unit test puts a script in its place and runs
// the same probes without root and without waiting.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "net/address.h"
#include "net/capture/capture_request.h"
#include "net/host_state.h"
#include "net/interfaces.h"

namespace net {

// What a probe wants after each datagram it is handed.
enum class AfterDatagram { KeepListening, StopListening };

struct ReceivedDatagram {
  // On a raw socket or a capture the datagram starts with its IP header; on
  // a UDP socket it is the UDP payload.
  std::span<const std::uint8_t> bytes;
  // Who sent it: the datagram's own IP source for raw sockets and captures.
  Endpoint sender;
  std::chrono::steady_clock::time_point arrival;
};

using DatagramHandler = std::function<AfterDatagram(const ReceivedDatagram&)>;

enum class Membership { Join, Leave };

// One open socket as a probe uses it. Every failed call throws
// CV_SocketException with the platform's error number.
class ProbeSocket {
 public:
  ProbeSocket() = default;
  virtual ~ProbeSocket() = default;
  ProbeSocket(const ProbeSocket&) = delete;
  ProbeSocket& operator=(const ProbeSocket&) = delete;
  ProbeSocket(ProbeSocket&&) = delete;
  ProbeSocket& operator=(ProbeSocket&&) = delete;

  virtual void sendTo(std::span<const std::uint8_t> message, const Endpoint& destination) = 0;
  // Hands each datagram read to onDatagram until timeOutMs has passed (fixed
  // at entry) or it says stop. This host's own packets, which some captures
  // hand back, are never handed on. timeOutMs of 0 or less reads nothing.
  virtual void listen(std::int32_t timeOutMs, const DatagramHandler& onDatagram) = 0;
  // Hands on what is queued already, without waiting for more.
  virtual void drain(const DatagramHandler& onDatagram) = 0;
  // Joins or leaves `group` (from `source` alone, when given) on the
  // interface with `interfaceIndex`; 0 lets the platform pick it.
  virtual void changeMembership(Membership change, const Address& group,
                                const std::optional<Address>& source,
                                unsigned int interfaceIndex) = 0;
  // `message` is owed to `destination` (a leave after a report, a goodbye
  // after a Hello): should a signal end the process before
  // cancelSendIfInterrupted, it is sent on the way out. One at a time; where
  // the platform cannot, nothing happens.
  virtual void sendIfInterrupted(std::span<const std::uint8_t> /*message*/,
                                 const Endpoint& /*destination*/) {}
  virtual void cancelSendIfInterrupted() {}
};

class Network {
 public:
  Network() = default;
  virtual ~Network() = default;
  Network(const Network&) = delete;
  Network& operator=(const Network&) = delete;
  Network(Network&&) = delete;
  Network& operator=(Network&&) = delete;

  // A UDP socket bound to the family's wildcard address on `port`, hearing
  // only the groups it joins itself. Throws CV_SocketException.
  virtual std::unique_ptr<ProbeSocket> openReceiver(Family family, std::uint16_t port) = 0;
  // A raw socket of the request's protocol (ICMP or ICMPv6) that queues
  // only echo replies, and where the platform can filter in the kernel only
  // those `replies` describes; on the pass's interface, replies from it
  // alone, or unbound when finding the interface failed. Throws
  // CV_RawSocketException when the platform refuses a raw socket,
  // CV_SocketException for what follows.
  virtual std::unique_ptr<ProbeSocket> openPinger(const CaptureRequest& replies,
                                                  const PassLink& link) = 0;
  // A raw socket of the request's family and protocol bound to the pass's
  // interface, whose reads come from a capture of what reaches that
  // interface for any host or group; where the platform can filter in the
  // kernel, only what `request` describes (the readers still check all).
  // Throws as openPinger, and the failure that finding the interface met, if
  // it met one.
  virtual std::unique_ptr<ProbeSocket> openCapturing(const CaptureRequest& request,
                                                     const PassLink& link) = 0;
  // The pass will use `link`: a platform whose captures are slow to open
  // gets one ready now, off the tests' time. Nothing by default.
  virtual void prepareCaptures(const PassLink& /*link*/) {}
  // The pass is over: nothing it prepared stays open until the next one.
  virtual void releaseCaptures() {}
  // A capture of what `request` describes (one beacon's UDP datagrams) as
  // it reaches the pass's interface, whether a socket of this host takes it
  // or not: datagrams IP header first. nullptr where the platform has no
  // such capture. Throws as openCapturing.
  virtual std::unique_ptr<ProbeSocket> openBeaconCapture(const CaptureRequest& request,
                                                         const PassLink& link) = 0;
  // What the host's own configuration does to multicast on the pass's
  // interface, as far as the platform tells.
  virtual HostMulticastState hostState(const PassLink& link) = 0;
  // Whether a socket of this host, of any program, holds `group` on the
  // pass's interface now; false where the platform does not tell.
  virtual bool hostHoldsGroup(const Address& /*group*/, const PassLink& /*link*/) { return false; }
  // The interfaces this host's route to `destination` leaves by, looked up
  // as reverse-path filtering on the pass's interface does: one, or each
  // next hop's; empty when it has no route at all; nothing when the
  // platform does not tell.
  virtual std::optional<std::vector<std::string>> routeInterfaces(const Address& destination,
                                                                  const PassLink& link) = 0;
  // Throws CV_SocketException(operation) with the platform's "no such
  // device" number when the pass's interface is no longer up.
  virtual void requireLinkUp(const PassLink& link, const char* operation) = 0;
  virtual void pause(std::uint32_t milliseconds) = 0;
  virtual std::chrono::steady_clock::time_point now() = 0;
};

}  // namespace net
