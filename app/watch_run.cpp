#include "app/watch_run.h"

#include <algorithm>
#include <chrono>
#include <cmath>

#include "app/watch_output.h"
#include "net/file_replace.h"
#include "net/process.h"
#include "net/socket_exceptions.h"
#include "net/stop_request.h"
#include "net/watch_link.h"
#include "probes/igmp_messages.h"
#include "probes/membership_reports.h"
#include "probes/mld_messages.h"
#include "probes/pim_messages.h"

namespace {

using Clock = std::chrono::system_clock;

// How often the interface's state is read, the status line redrawn.
constexpr double kTickS = 1;
constexpr double kMetricsEveryS = 15;
// A Hello without a Holdtime option holds for the default (RFC 7761 4.11).
constexpr std::uint16_t kDefaultHoldtimeS = 105;

watch::Query queryFrom(const MembershipQuery& heard, double t) {
  watch::Query query;
  query.t = t;
  query.source = heard.sender;
  query.version = heard.version;
  if (heard.group.isUnspecified()) {
    query.kind = watch::QueryKind::General;
  } else {
    query.group = heard.group;
    query.kind = heard.sourceCount > 0 ? watch::QueryKind::GroupAndSource : watch::QueryKind::Group;
  }
  query.maxResponseS = heard.maxResponseMs / 1000.0;
  if (heard.queryIntervalSeconds) query.intervalS = static_cast<int>(*heard.queryIntervalSeconds);
  if (heard.robustness) query.robustness = *heard.robustness;
  return query;
}

std::vector<watch::Channel> channelsOf(const PassSetup& setup) {
  return {{setup.asmGroup.group, std::nullopt, setup.asmGroup.port},
          {setup.ssmChannel.group, setup.ssmChannel.source, setup.ssmChannel.port}};
}

class WatchRun {
 public:
  WatchRun(const options::RunOptions& options, const PassSetup& setup, std::ostream& out,
           std::ostream& errors)
      : options_(options),
        setup_(setup),
        out_(out),
        errors_(errors),
        terminal_(!options.json && net::outputIsTerminal()),
        watch_(channelsOf(setup), setup.family, {},
               [this](const watch::Event& event) { showEvent(event); }) {
    facts_.interfaceName = setup.link.chosen->name;
    if (options.watch->seconds) facts_.plannedS = static_cast<double>(*options.watch->seconds);
  }

  int run() {
    std::vector<net::WatchedBeacon> beacons;
    for (const watch::ChannelState& state : watch_.channels()) {
      beacons.push_back({state.channel.group, state.channel.source, state.channel.port});
    }
    beacons_ = beacons;
    start_ = Clock::now();
    try {
      watcher_ = net::openLinkWatcher(setup_.family, *setup_.link.chosen, beacons_);
    } catch (const net::CV_SocketException& failure) {
      errors_ << "corvanite: cannot watch on " << facts_.interfaceName << ": "
              << failure.description() << "\n";
      return 1;
    } catch (const net::CV_PlatformLacksException& lacking) {
      errors_ << "corvanite: " << lacking.option << ": this platform lacks " << lacking.lacking
              << "\n";
      return 1;
    }
    noteCapture();
    if (!options_.json) {
      out_ << "Watching " << watch_.groupText(0) << " and " << watch_.groupText(1) << " on "
           << facts_.interfaceName << " (" << (setup_.family == net::Family::V4 ? "IPv4" : "IPv6")
           << ") "
           << (facts_.plannedS ? "for " + std::to_string(*options_.watch->seconds) + " s"
                               : std::string("until interrupted"))
           << "\n"
           << std::flush;
    }
    loop();
    facts_.elapsedS = elapsed();
    watch_.advance(facts_.elapsedS);
    writeMetrics();
    clearStatus();
    if (options_.json) {
      out_ << watch::watchJson(watch_, facts_).dump() << "\n";
    } else {
      out_ << watch::summaryText(watch_, facts_);
      if (options_.explain) out_ << watch::diagnosisText(watch::watchDiagnosis(watch_, facts_));
    }
    out_ << std::flush;
    if (metricsFailed_) return 1;
    return watch_.outageCount() > 0 ? 1 : 0;
  }

 private:
  [[nodiscard]] double elapsed() const {
    return std::chrono::duration<double>(Clock::now() - start_).count();
  }
  [[nodiscard]] double since(net::WatchTime stamp) const {
    return std::chrono::duration<double>(stamp - start_).count();
  }

  void noteCapture() {
    watch_.setLinkVisible(watcher_->capturing());
    if (!watcher_->capturing() && !captureMissed_) {
      captureMissed_ = true;
      clearStatus();
      errors_ << "corvanite: the link's queries and the host's reports cannot be seen ("
              << watcher_->captureProblem()
              << "); only the beacons are watched, and no outage gets a cause\n";
    }
  }

  void loop() {
    net::stopOnInterrupt();
    double nextTick = 0;
    double nextMetrics = 0;
    for (;;) {
      double now = elapsed();
      if (net::stopRequested() || (facts_.plannedS && now >= *facts_.plannedS)) return;
      if (now >= nextTick) {
        checkLink(now);
        facts_.elapsedS = now;
        showStatus();
        nextTick = now + kTickS;
      }
      if (options_.prometheusFile && now >= nextMetrics) {
        facts_.elapsedS = now;
        writeMetrics();
        nextMetrics = now + kMetricsEveryS;
      }
      double until = std::min(nextTick, options_.prometheusFile ? nextMetrics : nextTick);
      if (facts_.plannedS) until = std::min(until, *facts_.plannedS);
      if (const auto deadline = watch_.nextDeadline()) until = std::min(until, *deadline + 0.001);
      const auto timeout = std::chrono::milliseconds(
          static_cast<std::int64_t>(std::ceil(std::max(0.0, until - now) * 1000)));
      if (watcher_) {
        try {
          waitForTraffic(timeout);
        } catch (const net::CV_SocketException& failure) {
          // A packet socket reports its interface going down as an error
          // (ENETDOWN): the link is read again now, and joined again once up.
          if (!readFailed_) {
            clearStatus();
            errors_ << "corvanite: reading on " << facts_.interfaceName
                    << " failed: " << failure.description() << "; opened again\n";
          }
          readFailed_ = true;
          watcher_.reset();
          nextTick = 0;
        }
      } else {
        net::pauseMs(static_cast<std::uint32_t>(timeout.count()));
      }
      now = elapsed();
      watch_.advance(now);
    }
  }

  // What one wake read from all the sockets goes to the watch in the order
  // it arrived: a socket read before another must not make the other's
  // group look silent for as long as this process was not scheduled.
  void waitForTraffic(std::chrono::milliseconds timeout) {
    arrivals_.clear();
    frames_.clear();
    watcher_->wait(
        timeout, [&](const net::BeaconArrival& arrival) { arrivals_.push_back(arrival); },
        [&](const net::LinkFrame& frame) {
          frames_.push_back(
              Frame{{frame.datagram.begin(), frame.datagram.end()}, frame.outgoing, frame.stamp});
        });
    const auto byStamp = [](const auto& a, const auto& b) { return a.stamp < b.stamp; };
    std::stable_sort(arrivals_.begin(), arrivals_.end(), byStamp);
    std::stable_sort(frames_.begin(), frames_.end(), byStamp);
    auto frame = frames_.begin();
    for (const net::BeaconArrival& arrival : arrivals_) {
      for (; frame != frames_.end() && frame->stamp <= arrival.stamp; ++frame) {
        observeFrame(watch_, frame->bytes, frame->outgoing, since(frame->stamp));
      }
      watch_.datagram(arrival.beacon, arrival.sender, arrival.ttl, since(arrival.stamp));
    }
    for (; frame != frames_.end(); ++frame) {
      observeFrame(watch_, frame->bytes, frame->outgoing, since(frame->stamp));
    }
  }

  // An interface that goes away takes the memberships with it: it is
  // joined again when it comes back.
  void checkLink(double now) {
    const auto index = net::linkIndexIfUp(facts_.interfaceName);
    if (!index) {
      watcher_.reset();
      if (linkUp_) watch_.link(false, now);
      linkUp_ = false;
      return;
    }
    if (watcher_) return;
    net::LinkInterface link = *setup_.link.chosen;
    link.index = *index;
    try {
      watcher_ = net::openLinkWatcher(setup_.family, link, beacons_);
    } catch (const net::CV_SocketException&) {
      // Up but not ready (no address yet): tried again at the next tick.
      return;
    }
    if (!linkUp_) watch_.link(true, now);
    linkUp_ = true;
    noteCapture();
  }

  void showEvent(const watch::Event& event) {
    if (options_.json) return;
    clearStatus();
    // Through a pipe too (a service's journal): each event as it happens.
    out_ << watch::timelineLine(event) << "\n" << std::flush;
    showStatus();
  }

  void showStatus() {
    if (!terminal_) return;
    out_ << "\r" << watch::statusLine(watch_, facts_) << "\033[K" << std::flush;
    statusShown_ = true;
  }

  void clearStatus() {
    if (!statusShown_) return;
    out_ << "\r\033[K";
    statusShown_ = false;
  }

  void writeMetrics() {
    if (!options_.prometheusFile) return;
    const auto failure =
        net::replaceFileWhole(*options_.prometheusFile, watch::watchMetrics(watch_, facts_));
    if (!failure) return;
    clearStatus();
    if (!metricsFailed_) {
      errors_ << "corvanite: cannot write the metrics to " << *options_.prometheusFile << ": "
              << failure->step << ": " << failure->message << " (error " << failure->code << ")\n";
    }
    metricsFailed_ = true;
  }

  const options::RunOptions& options_;
  const PassSetup& setup_;
  std::ostream& out_;
  std::ostream& errors_;
  bool terminal_;
  bool statusShown_ = false;
  bool metricsFailed_ = false;
  bool readFailed_ = false;
  bool captureMissed_ = false;
  bool linkUp_ = true;
  watch::WatchFacts facts_;
  watch::LinkWatch watch_;
  std::vector<net::WatchedBeacon> beacons_;
  std::unique_ptr<net::LinkWatcher> watcher_;
  struct Frame {
    std::vector<std::uint8_t> bytes;
    bool outgoing = false;
    net::WatchTime stamp;
  };
  // One wake's reads, kept to be put in order; reused.
  std::vector<net::BeaconArrival> arrivals_;
  std::vector<Frame> frames_;
  Clock::time_point start_;
};

}  // namespace

void observeFrame(watch::LinkWatch& watch, std::span<const std::uint8_t> datagram, bool outgoing,
                  double t) {
  if (outgoing) {
    for (const ReportRecord& record : readReportRecords(datagram)) {
      watch.report({t,
                    record.kind == ReportRecord::Kind::Leave ? watch::ReportKind::Leave
                                                             : watch::ReportKind::Report,
                    record.version, record.group});
    }
    return;
  }
  const auto query =
      watch.family() == net::Family::V4 ? readMembershipQuery(datagram) : readMldQuery(datagram);
  if (query) {
    watch.query(queryFrom(*query, t));
    return;
  }
  const auto pim = readPimMessage(datagram, watch.family());
  if (pim && pim->type == PimMessage::Type::Hello) {
    watch.hello({t, pim->sender, pim->hello.holdtimeSeconds.value_or(kDefaultHoldtimeS),
                 pim->hello.generationId});
  }
}

int runWatch(const options::RunOptions& options, const PassSetup& setup, std::ostream& out,
             std::ostream& errors) {
  if (!setup.link.chosen) {
    errors << "corvanite: no interface to watch"
           << (setup.link.failure ? ": " + setup.link.failure->description() : std::string())
           << "\n";
    return 1;
  }
  return WatchRun(options, setup, out, errors).run();
}
