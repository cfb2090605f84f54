// The watch as the command line runs it: the link's receiver feeding the
// watch's records, the timeline and the status line as it goes, the summary
// or the JSON object at the end, the metrics file every 15 s.
#pragma once

#include <ostream>
#include <span>

#include "app/options.h"
#include "app/pass_setup.h"
#include "app/watch.h"

// One frame of the link capture, IP header first, read into the watch: a
// query or PIM Hello heard, or, when `outgoing`, the host's own reports and
// leaves. Anything else, or a frame cut short, is passed over.
void observeFrame(watch::LinkWatch& watch, std::span<const std::uint8_t> datagram, bool outgoing,
                  double t);

// Returns the exit status: 0 when no outage happened, 1 when one did, the
// watch could not start or the metrics file could not be written.
int runWatch(const options::RunOptions& options, const PassSetup& setup, std::ostream& out,
             std::ostream& errors);
