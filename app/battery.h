// The battery as one table per family, both made from the one list in
// app/battery.def: each test's number, what it is called, its header, the
// function that runs it and what it feeds. A pass runs the table's rows in
// order; every reader of the records reaches them through it.
#pragma once

#include <map>
#include <span>
#include <vector>

#include "app/findings.h"
#include "app/pass_observer.h"
#include "app/pass_report.h"
#include "app/pass_setup.h"
#include "net/network.h"

struct BatteryTest;

// What a test runs with: its row of the table, the network its probes use,
// the pass's setup, its own record to fill and the observer to tell.
struct TestContext {
  const BatteryTest& test;
  net::Network& network;
  const PassSetup& setup;
  TestRecord& record;
  PassObserver& observer;

  void begins() const { observer.testBegins(record); }
  void verdictReached() const { observer.verdictReached(record); }
};

struct BatteryTest {
  TestId id;
  int number;
  net::Family family;
  // A short name for machine-read output: "asm-beacon", "pim-hello", ...
  const char* name;
  // What the text prints after "N.  " as it begins, with {group}, {source}
  // and {port} standing for the beacon's.
  const char* header;
  // Fills the record's details, tells the observer as it goes, and records
  // a socket failure that ends it; it never throws one.
  void (*run)(const TestContext& context);
  // What makes the test a success, read off its record.
  bool (*succeeded)(const TestRecord& record);
  // The flag of the pass that its success sets.
  bool PassFlags::*feeds;
};

// The IPv4 battery, in the order it runs.
std::span<const BatteryTest> ipv4Battery();
// The battery of `family`.
std::span<const BatteryTest> batteryOf(net::Family family);

// The row of test `id` in the battery of `family`.
const BatteryTest& batteryTest(TestId id, net::Family family = net::Family::V4);

// Records for every test of the battery of `family`, none of them run.
PassFindings freshFindings(net::Family family = net::Family::V4);

// Runs one test into its record: the test itself, then its duration and
// outcome, told to `observer` as it goes.
void runTest(const BatteryTest& test, net::Network& network, const PassSetup& setup,
             PassObserver& observer, TestRecord& record);

// One family's battery over fresh records: each test of the battery of the
// setup's family in turn, then its end, told to `observer` once the battery
// is in `report`.
void runPass(net::Network& network, const PassSetup& setup, PassObserver& observer,
             PassReport& report);

// What a run keeps from one pass to the next: the Hellos each family's last
// pass heard, for a neighbour's Generation ID to be compared with.
struct RunMemory {
  std::map<net::Family, std::vector<NeighbourHello>> hellos;
};

// The same, handing the pass what `memory` kept and keeping this pass's Hellos.
void runPass(net::Network& network, const PassSetup& setup, PassObserver& observer,
             PassReport& report, RunMemory& memory);
