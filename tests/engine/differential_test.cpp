// differential_test.cpp - randomised comparison of the fast engine
// (universe/, files/) with the naive reference model (naive_model.h).
//
// Compiled only when the engine is available: CMake defines
// CELLFORGE_ENGINE_DIFF when the targets cellforge_universe and
// cellforge_files exist (and the option CELLFORGE_ENGINE_DIFF is ON), and the
// headers must be reachable.
#if defined(CELLFORGE_ENGINE_DIFF) && __has_include("universe/universe.h") && \
    __has_include("files/grid_file.h")

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstdint>
#include <fstream>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "files/grid_file.h"
#include "naive_model.h"
#include "edge_grids.h"
#include "random_universe.h"
#include "tools/workloads.h"
#include "universe/universe.h"

namespace {

// Lines of the written form: per block 2 header lines and 12 x 15 values.
constexpr size_t kLinesPerBlock = 2 + 12 * 15;

std::vector<std::string> splitLines(const std::string& text) {
  std::vector<std::string> lines;
  std::string line;
  std::istringstream in(text);
  while (std::getline(in, line)) lines.push_back(line);
  return lines;
}

// Describes the first line at which two written forms differ, with the
// block origin, the cell and the field it belongs to.  Empty if equal.
std::string firstDifference(const std::string& naiveText, const std::string& engineText) {
  if (naiveText == engineText) return {};
  const std::vector<std::string> a = splitLines(naiveText);
  const std::vector<std::string> b = splitLines(engineText);
  size_t i = 0;
  while (i < a.size() && i < b.size() && a[i] == b[i]) ++i;
  std::ostringstream msg;
  msg << "first difference at line " << (i + 1) << " (naive has " << a.size()
      << " lines, engine " << b.size() << ")";
  const size_t block = i / kLinesPerBlock;
  const size_t within = i % kLinesPerBlock;
  const size_t head = block * kLinesPerBlock;
  msg << "; block #" << block;
  if (head < a.size()) msg << " naive origin '" << a[head] << "'";
  if (head < b.size()) msg << " engine origin '" << b[head] << "'";
  if (within == 0) {
    msg << ", origin line";
  } else if (within == 1) {
    msg << ", size line";
  } else {
    static const char* const kFields[15] = {"type",  "front", "side",  "out0",  "out1",
                                            "out2",  "out3",  "out4",  "out5",  "bond0",
                                            "bond1", "bond2", "bond3", "bond4", "bond5"};
    const size_t entry = (within - 2) / 15;
    const size_t field = (within - 2) % 15;
    // entry k of the box order (y, then z, then x)
    const size_t iy = entry / 6, iz = (entry / 2) % 3, ix = entry % 2;
    msg << ", cell offset (" << ix << ", " << iy << ", " << iz << "), field " << kFields[field];
  }
  msg << ": naive '" << (i < a.size() ? a[i] : std::string("<end>")) << "' engine '"
      << (i < b.size() ? b[i] : std::string("<end>")) << "'";
  return msg.str();
}

std::string engineText(const Universe& u) {
  std::ostringstream out;
  u.writeBlocks(out);
  return out.str();
}

// Saves the grid of a failing seed so that it can be replayed by hand.
std::string saveFailingGrid(const std::string& name, const std::string& text) {
  static int saved = 0;
  if (++saved > 20) return "(not saved: more than 20 failing grids)";
  std::string path = "engine_diff_";
  path.append(name).append(".grd");
  std::ofstream out(path);
  out << text;
  if (out) return path;
  return std::string("(could not write ").append(path).append(")");
}

// One generation of the engine.  The agreed API is Universe::step(); while
// the engine still calls it stepGeneration(), that name is used instead.
template <typename U>
void stepEngine(U& u) {
  if constexpr (requires { u.step(); })
    u.step();
  else
    u.stepGeneration();
}

// How the engine evaluates phase 1: the thread count, and whether the
// separate signal pass runs even on small universes (and in which order).
struct EngineMode {
  int threads = 1;
  bool forcePass = false;
  bool storageOrder = false;
  bool alternate = false;  // the helpers take part every other generation only
};
const EngineMode kOneThread{};
// Two threads, the signal pass shared out in list order (or storage order
// when most blocks are active).
const EngineMode kTwoThreads{2, true, false};
// Two threads, the signal pass always in storage order.
const EngineMode kTwoThreadsStorage{2, true, true};
// Three threads, shared passes from the smallest lists on.
const EngineMode kThreeThreads{3, true, false};
// Two threads that share the passes of every other generation.
const EngineMode kTwoThreadsAlternating{2, true, true, true};
// One thread with the storage-order signal pass allowed from the smallest
// lists on: whether it runs then follows the last walk's kinds of block.
const EngineMode kOneThreadStorage{1, true, true};

void applyMode(Universe& u, const EngineMode& mode) {
  u.setThreads(mode.threads);
  if (mode.forcePass) {
    u.signalPassMinimum = 1;
    u.passSharing = mode.alternate ? Universe::PassSharing::Alternate : Universe::PassSharing::Always;
  }
  u.storageOrderAlways = mode.storageOrder;
}

// Both implementations side by side.
struct Pair {
  naive::Model model;
  Universe engine;
  std::vector<std::string> engineConflicts;
  int naiveSkipped = 0;
  long long engineSkipped = 0;

  explicit Pair(const std::string& gridText, const EngineMode& mode = kOneThread) {
    applyMode(engine, mode);
    engine.onConflict = [this](const std::string& m) { engineConflicts.push_back(m); };
    std::istringstream a(gridText);
    naiveSkipped = model.readGrid(a);
    std::istringstream b(gridText);
    const auto result = readGridFile(engine, b);
    engineSkipped = static_cast<long long>(result.skippedParts);
  }

  void step(bool pulse) {
    if (pulse) {
      model.inputPulse = 1;
      engine.inputPulse = 1;
    }
    model.step();
    stepEngine(engine);
  }

  // Empty string when the two agree.
  std::string compareCounters() const {
    std::ostringstream msg;
    if (model.generation != engine.generation)
      msg << "generation: naive " << model.generation << " engine " << engine.generation << "; ";
    if (model.activeBlockCount != engine.activeBlockCount)
      msg << "activeBlockCount: naive " << model.activeBlockCount << " engine "
          << engine.activeBlockCount << "; ";
    const int enginePulse = static_cast<uint8_t>(engine.inputPulse);
    if (int(model.inputPulse) != enginePulse)
      msg << "inputPulse: naive " << int(model.inputPulse) << " engine " << enginePulse << "; ";
    return msg.str();
  }

  std::string compareBlocks() const {
    return firstDifference(model.writeBlocksString(), engineText(engine));
  }

  std::string compareLoad() const {
    std::ostringstream msg;
    const auto& n = model.conflictMessages;
    const auto& e = engineConflicts;
    if (n != e) {
      msg << "conflict messages differ (naive " << n.size() << ", engine " << e.size() << ")";
      for (size_t i = 0; i < n.size() || i < e.size(); ++i) {
        const std::string a = i < n.size() ? n[i] : "<none>";
        const std::string b = i < e.size() ? e[i] : "<none>";
        if (a != b) {
          msg << "; first at #" << i << ": naive '" << a << "' engine '" << b << "'";
          break;
        }
      }
      msg << "; ";
    }
    if (naiveSkipped != engineSkipped)
      msg << "skippedParts: naive " << naiveSkipped << " engine " << engineSkipped << "; ";
    const std::string blocks = compareBlocks();
    if (!blocks.empty()) msg << "after load: " << blocks;
    return msg.str();
  }
};

// Runs one seed; returns an empty string on agreement, else a report.
std::string runSeed(uint64_t seed, const random_universe::Params& params, int generations,
                    int compareEvery, const EngineMode& mode) {
  const std::string text = random_universe::generate(seed, params);
  std::ostringstream name;
  name << "seed" << seed;
  Pair p(text, mode);
  std::string problem = p.compareLoad();
  std::ostringstream report;
  if (!problem.empty()) {
    report << "seed " << seed << ", load: " << problem << " [grid saved as "
           << saveFailingGrid(name.str(), text) << "]";
    return report.str();
  }
  random_universe::Rng pulses(seed ^ 0xC0FFEEull);
  std::ostringstream pulseLog;
  for (int g = 1; g <= generations; ++g) {
    const bool pulse = pulses.chance(0.15);
    if (pulse) pulseLog << ' ' << g;
    p.step(pulse);
    problem = p.compareCounters();
    if (problem.empty() && (g % compareEvery == 0 || g == generations)) problem = p.compareBlocks();
    if (!problem.empty()) {
      report << "seed " << seed << ", after generation " << g
             << " (inputPulse set before generations:" << pulseLog.str() << "): " << problem
             << " [grid saved as " << saveFailingGrid(name.str(), text) << "]";
      return report.str();
    }
  }
  // The engine's own bookkeeping (lists, links, rule classes) must hold too.
  const std::string kept = p.engine.verifyConsistency();
  if (!kept.empty()) return "seed " + std::to_string(seed) + ", engine inconsistent: " + kept;
  return {};
}

// Environment knobs for replaying by hand:
//   ENGINE_DIFF_SEED=n     run only seed n in the random-universe tests
//   ENGINE_DIFF_VERBOSE=1  print each seed as it starts
bool seedSelected(int seed) {
  const char* only = std::getenv("ENGINE_DIFF_SEED");
  if (only == nullptr || *only == '\0') return true;
  return std::atoi(only) == seed;
}

void announceSeed(int seed) {
  const char* verbose = std::getenv("ENGINE_DIFF_VERBOSE");
  if (verbose != nullptr && *verbose != '\0' && *verbose != '0')
    std::fprintf(stderr, "seed %d\n", seed);
}

// Runs seeds first..first+count-1 through both models; one expectation for
// the lot, listing the first disagreements.
void expectSeedsAgree(const random_universe::Params& params, int first, int count, int generations, int every,
                      const EngineMode& mode = kOneThread) {
  const auto start = std::chrono::steady_clock::now();
  std::vector<std::string> failures;
  for (int seed = first; seed < first + count; ++seed) {
    if (!seedSelected(seed)) continue;
    announceSeed(seed);
    const int gens = generations > 0 ? generations : 1 + (seed * 7919) % 60;  // 1..60
    const std::string problem = runSeed(static_cast<uint64_t>(seed), params, gens, every, mode);

    if (!problem.empty()) failures.push_back(problem);
  }
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  std::ostringstream report;
  report << failures.size() << " of " << count << " seeds disagree (" << seconds << " s)\n";
  for (size_t i = 0; i < failures.size() && i < 10; ++i) report << "  " << failures[i] << "\n";
  EXPECT_TRUE(failures.empty()) << report.str();
}

TEST(Differential, RandomUniversesAgreeWithNaiveModel) {
  expectSeedsAgree(random_universe::Params{}, 1, 300, 0, 5);
}

// Movers only, denser, with more bonds: stresses group moves and merges.
random_universe::Params denseMoverParams() {
  random_universe::Params params;
  params.density = 0.6;
  params.bondChance = 0.4;
  params.minEdge = 6;
  params.maxEdge = 8;
  for (int t = 0; t <= 10; ++t) params.typeWeights[t] = 0;
  params.typeWeights[naive::Pusher] = 10;
  params.typeWeights[naive::Shifter] = 10;
  params.typeWeights[naive::Drive] = 12;
  params.typeWeights[naive::Rotator] = 8;
  params.typeWeights[naive::Binder] = 4;
  params.typeWeights[naive::Cutter] = 4;
  params.typeWeights[naive::Source] = 8;
  params.typeWeights[naive::Conductor] = 4;
  params.outputChance = 0.2;
  return params;
}
TEST(Differential, DenseMoverUniversesAgreeWithNaiveModel) {
  expectSeedsAgree(denseMoverParams(), 1001, 100, 40, 4);
}

// Every universe malformed somewhere (truncated, a non-number, an over-long
// word, a huge count, "7abc", a number beyond 32 bits, a lone "record"), or
// with a box near the coordinate limit: exercises the reader's failure paths.
random_universe::Params malformedParams() {
  random_universe::Params params;
  params.minEdge = 4;
  params.maxEdge = 7;
  params.malformedChance = 1;
  params.farChance = 0.3;
  return params;
}
TEST(Differential, MalformedGridsAgreeWithNaiveModel) {
  expectSeedsAgree(malformedParams(), 3001, 200, 3, 3);
}

// Nearly solid, fully bonded groups driven from inside and outside in
// every direction: each cell is reached through several bonds (cycles),
// several requests of one vector claim the same cells one after another,
// and groups of different vectors meet, so a move gathers large groups
// while skipping claims it holds or has queued, and parts with regions and
// odd types travel through the rare fields of the claim record.
random_universe::Params solidGroupParams() {
  random_universe::Params params;
  params.density = 0.8;
  params.bondChance = 1.0;
  params.minEdge = 5;
  params.maxEdge = 9;
  params.oddChance = 0.05;
  params.regionChance = 0.8;
  for (int t = 0; t <= 10; ++t) params.typeWeights[t] = 0;
  params.typeWeights[naive::Drive] = 6;
  params.typeWeights[naive::Pusher] = 6;
  params.typeWeights[naive::Shifter] = 6;
  params.typeWeights[naive::Source] = 4;
  params.typeWeights[naive::Conductor] = 6;
  params.typeWeights[naive::Cutter] = 2;
  params.typeWeights[naive::Rotator] = 2;
  params.outputChance = 0.3;
  return params;
}
TEST(Differential, SolidBondedGroupsAgreeWithNaiveModel) {
  expectSeedsAgree(solidGroupParams(), 6001, 80, 30, 3);
}

// Twin regions whose blocks share hash buckets (so creation order shows in
// the written form), with many rotators, binders and cutters (so the order
// of evaluation shows in the turns and bonds).
random_universe::Params orderSensitiveParams() {
  random_universe::Params params;
  params.hashTwinChance = 1;
  params.density = 0.5;
  params.bondChance = 0.3;
  params.minEdge = 5;
  params.maxEdge = 8;
  for (int t = 0; t <= 10; ++t) params.typeWeights[t] = 0;
  params.typeWeights[naive::Rotator] = 12;
  params.typeWeights[naive::Binder] = 8;
  params.typeWeights[naive::Cutter] = 6;
  params.typeWeights[naive::Drive] = 10;
  params.typeWeights[naive::Pusher] = 6;
  params.typeWeights[naive::Shifter] = 6;
  params.typeWeights[naive::Source] = 12;
  params.typeWeights[naive::Conductor] = 6;
  params.typeWeights[naive::NorGate] = 3;
  params.outputChance = 0.25;
  return params;
}
TEST(Differential, OrderSensitiveUniversesAgreeWithNaiveModel) {
  expectSeedsAgree(orderSensitiveParams(), 2001, 100, 40, 4);
}

// Signal-element universes: conductors and NOR gates in every frame (odd
// ones included), with many outputs set, so that most blocks are evaluated
// as signal lanes; movers among them keep relinking them.
random_universe::Params signalParams() {
  random_universe::Params params;
  params.density = 0.6;
  params.minEdge = 8;
  params.maxEdge = 14;
  for (int t = 0; t <= 10; ++t) params.typeWeights[t] = 0;
  params.typeWeights[naive::Conductor] = 20;
  params.typeWeights[naive::NorGate] = 14;
  params.typeWeights[naive::Source] = 2;
  params.typeWeights[naive::PulseInput] = 2;
  params.typeWeights[naive::Drive] = 1;
  params.typeWeights[naive::Rotator] = 2;
  params.outputChance = 0.4;
  params.oddChance = 0.05;
  return params;
}
TEST(Differential, SignalUniversesAgreeWithNaiveModel) {
  expectSeedsAgree(signalParams(), 4001, 60, 30, 3);
}

// The same suites with phase 1 on two threads, and with the signal pass
// forced on (in list and in storage order) even where a universe is small.
// The helpers join in every other generation only: leaving the passes to
// the calling thread for a generation, and taking them back, must change
// nothing (the adaptive choice does exactly that, at times of its own).
TEST(DifferentialTwoThreads, SharingSwitchedEveryGenerationAgrees) {
  expectSeedsAgree(random_universe::Params{}, 5001, 60, 0, 5, kTwoThreadsAlternating);
  expectSeedsAgree(denseMoverParams(), 5101, 40, 40, 4, kTwoThreadsAlternating);
  expectSeedsAgree(orderSensitiveParams(), 5201, 40, 40, 4, kTwoThreadsAlternating);
  expectSeedsAgree(signalParams(), 5301, 30, 30, 3, kTwoThreadsAlternating);
}
// On one thread the signal pass runs ahead of the walk or not, generation
// by generation, as the walk's blocks have ordered cells or not.
TEST(Differential, SignalPassAloneOrNotAgrees) {
  expectSeedsAgree(random_universe::Params{}, 7001, 60, 0, 5, kOneThreadStorage);
  expectSeedsAgree(denseMoverParams(), 7101, 40, 40, 4, kOneThreadStorage);
  expectSeedsAgree(signalParams(), 7201, 30, 30, 3, kOneThreadStorage);
}
TEST(DifferentialTwoThreads, RandomUniversesAgreeWithNaiveModel) {
  expectSeedsAgree(random_universe::Params{}, 1, 300, 0, 5, kTwoThreads);
  expectSeedsAgree(random_universe::Params{}, 1, 100, 0, 5, kTwoThreadsStorage);
}
TEST(DifferentialTwoThreads, DenseMoverUniversesAgreeWithNaiveModel) {
  expectSeedsAgree(denseMoverParams(), 1001, 100, 40, 4, kTwoThreads);
  expectSeedsAgree(denseMoverParams(), 1001, 50, 40, 4, kTwoThreadsStorage);
}
TEST(DifferentialTwoThreads, MalformedGridsAgreeWithNaiveModel) {
  expectSeedsAgree(malformedParams(), 3001, 200, 3, 3, kTwoThreads);
  expectSeedsAgree(malformedParams(), 3001, 100, 3, 3, kTwoThreadsStorage);
}
TEST(DifferentialTwoThreads, OrderSensitiveUniversesAgreeWithNaiveModel) {
  expectSeedsAgree(orderSensitiveParams(), 2001, 100, 40, 4, kTwoThreads);
  expectSeedsAgree(orderSensitiveParams(), 2001, 50, 40, 4, kTwoThreadsStorage);
}
TEST(DifferentialTwoThreads, SolidBondedGroupsAgreeWithNaiveModel) {
  expectSeedsAgree(solidGroupParams(), 6001, 40, 30, 3, kTwoThreads);
  expectSeedsAgree(solidGroupParams(), 6001, 40, 30, 3, kThreeThreads);
}
TEST(DifferentialTwoThreads, SignalUniversesAgreeWithNaiveModel) {
  expectSeedsAgree(signalParams(), 4001, 60, 30, 3, kTwoThreads);
  expectSeedsAgree(signalParams(), 4001, 60, 30, 3, kTwoThreadsStorage);
}


// One cell entry of a grid file.
std::string entry(int type, int front, int side, int outputs = 0, int bonds = 0) {
  std::ostringstream s;
  s << type << ' ' << front << ' ' << side;
  for (int d = 0; d < 6; ++d) s << ' ' << ((outputs >> d) & 1);
  for (int d = 0; d < 6; ++d) s << ' ' << (bonds & (1 << d));
  s << '\n';
  return s.str();
}

// Small hand-written universes, compared after every generation.
void expectHandWrittenAgree(const EngineMode& mode);
TEST(Differential, HandWrittenUniversesAgreeWithNaiveModel) { expectHandWrittenAgree(kOneThread); }
TEST(DifferentialTwoThreads, HandWrittenUniversesAgreeWithNaiveModel) {
  expectHandWrittenAgree(kTwoThreads);
  expectHandWrittenAgree(kTwoThreadsStorage);
}
void expectHandWrittenAgree(const EngineMode& mode) {
  const std::vector<std::pair<std::string, std::string>> grids = {
      {"conductor row fed by a source",
       "0 -1 0 1 4 1\n" + entry(9, 0, 1, 1) + entry(1, 0, 1) + entry(1, 0, 1) + entry(1, 0, 1)},
      {"pusher and a row of three",
       "0 -1 0 1 5 1\n" + entry(9, 0, 1, 1) + entry(3, 0, 1) + entry(11, 0, 1) + entry(12, 1, 0) +
           entry(13, 4, 0)},
      {"three rotators on one target",
       "0 -2 0 1 2 1\n" + entry(9, 0, 1, 1) + entry(5, 0, 1) + "-2 0 0 3 1 1\n" +
           entry(9, 1, 0, 2) + entry(5, 1, 0) + entry(11, 0, 1) + "0 0 -2 1 1 2\n" +
           entry(9, 4, 1, 16) + entry(5, 4, 1)},
      {"merge with a blocked request duplicates",
       "1 0 1 1 1 1 " + entry(6, 4, 2) + "2 0 1 1 1 1 " + entry(10, 0, 1) + "1 1 0 1 1 1 " +
           entry(10, 4, 1) + "1 1 1 1 1 1 " + entry(10, 1, 0) + "2 1 1 1 1 1 " + entry(7, 3, 4)},
      {"merge with a blocked request loses",
       "0 1 0 2 1 3\n" + entry(7, 1, 2) + entry(6, 3, 0) + entry(9, 5, 3) + entry(10, 5, 3) +
           entry(1, 0, 4) + entry(0, 0, 1) + "0 2 0 1 1 3\n" + entry(10, 2, 3) + entry(0, 0, 1) +
           entry(10, 2, 5)},
      {"NOR ring oscillator",
       "0 0 0 2 2 1\n" + entry(2, 0, 1) + entry(1, 2, 1) + entry(1, 0, 1) + entry(1, 1, 0)},
      {"colliding hash keys, moving parts",
       "-60 0 6 1 2 1\n" + entry(10, 0, 1, 0, 1) + entry(11, 0, 1, 0, 4) + "-58 1 -90 1 1 1 " +
           entry(9, 0, 1, 1) + "-58 2 -90 1 1 1 " + entry(10, 0, 3)},
      {"binder then drive",
       "0 -2 0 1 2 1\n" + entry(9, 0, 1, 1) + entry(6, 0, 1) + "-1 0 0 3 1 1\n" +
           entry(10, 1, 0) + entry(12, 0, 1) + entry(13, 0, 1)},
      {"cutter between bonded parts pushed by a pusher",
       "0 -2 0 1 2 1\n" + entry(9, 0, 1, 1) + entry(7, 0, 1) + "0 0 0 2 1 1\n" +
           entry(11, 0, 1, 0, 2) + entry(12, 0, 1, 0, 8) + "3 -1 0 1 2 1\n" + entry(9, 0, 3, 1) +
           entry(3, 3, 0)},
      {"invalid directions and types without a rule",
       "0 0 0 3 1 1\n" + entry(9, 7, 1, 1) + entry(1, -1, 9) + entry(2, 4, -3) + "0 1 0 3 1 1\n" +
           entry(11, 0, 1, 63) + entry(-1, 1, 0, 5) + entry(10, 0, 8)},
  };
  for (const auto& [name, text] : grids) {
    Pair p(text, mode);
    ASSERT_EQ(p.compareLoad(), "") << name;
    for (int g = 1; g <= 30; ++g) {
      p.step(g == 5);
      ASSERT_EQ(p.compareCounters(), "") << name << ", after generation " << g;
      ASSERT_EQ(p.compareBlocks(), "") << name << ", after generation " << g;
    }
  }
}

// Machines driven against the coordinate edge: the move that would carry a
// part beyond +-1e9 is blocked in both, generation by generation.
TEST(Differential, CoordinateEdgeUniversesAgreeWithNaiveModel) {
  for (const auto& [name, text] : edge_grids::all()) {
    Pair p(text);
    ASSERT_EQ(p.compareLoad(), "") << name;
    for (int g = 1; g <= 12; ++g) {
      p.step(false);
      ASSERT_EQ(p.compareCounters(), "") << name << ", after generation " << g;
      ASSERT_EQ(p.compareBlocks(), "") << name << ", after generation " << g;
    }
  }
}

// A long run that crosses the clean-up of generation 10000: self-propelled
// Drive pairs (a Drive bonded to the part in front of it) travel away and
// leave a trail of empty blocks behind, which the clean-up removes.
void expectLongRunAgrees(const EngineMode& mode);
TEST(Differential, LongRunAcrossCleanUp) { expectLongRunAgrees(kOneThread); }
TEST(DifferentialTwoThreads, LongRunAcrossCleanUp) { expectLongRunAgrees(kTwoThreadsStorage); }
void expectLongRunAgrees(const EngineMode& mode) {
  std::ostringstream grid;
  // Drive at (0,0,0) facing +y, side +x, bonded to a part at (0,1,0): +x.
  grid << "0 0 0 1 2 1\n" << entry(10, 0, 1, 0, 1 << 0) << entry(11, 0, 1, 0, 1 << 2);
  // Drive at (5,5,5) facing +x, side -y, bonded to a part at (6,5,5): -y.
  grid << "5 5 5 2 1 1\n" << entry(10, 1, 2, 0, 1 << 1) << entry(12, 0, 1, 0, 1 << 3);
  // Drive at (-3,-4,-7) facing -z, side -x, bonded to a conductor: -x.
  grid << "-3 -4 -8 1 1 2\n" << entry(1, 0, 1, 0, 1 << 4) << entry(10, 5, 3, 0, 1 << 5);
  // Drive facing +y, side +z, unbonded target: moves it once, then idles.
  grid << "20 0 0 1 2 1\n" << entry(10, 0, 4) << entry(2, 0, 1);
  // A Source feeding a row of conductors (stays put, keeps some blocks alive).
  grid << "-10 -10 0 1 4 1\n"
       << entry(9, 0, 1, 1) << entry(1, 0, 1) << entry(1, 0, 1) << entry(1, 0, 1);
  const std::string text = grid.str();

  Pair p(text, mode);
  ASSERT_EQ(p.compareLoad(), "");
  const size_t blocksAtStart = p.model.blockCount();
  size_t blocksBeforeCleanUp = 0;
  const int kGenerations = 10020;
  for (int g = 1; g <= kGenerations; ++g) {
    p.step(g % 777 == 0);
    const std::string counters = p.compareCounters();
    ASSERT_EQ(counters, "") << "after generation " << g;
    if (g == 9999) blocksBeforeCleanUp = p.model.blockCount();
    if (g <= 30 || g % 1000 == 0 || (g >= 9998 && g <= 10002) || g == kGenerations) {
      const std::string blocks = p.compareBlocks();
      ASSERT_EQ(blocks, "") << "after generation " << g;
    }
  }
  // Sanity of the scenario itself: the trail grew and the clean-up shrank it.
  EXPECT_GT(blocksBeforeCleanUp, blocksAtStart + 1000);
  EXPECT_LT(p.model.blockCount(), blocksBeforeCleanUp / 10);
}

// Random universes with many Drives, run past the clean-up.
void expectLongRandomRunsAgree(const EngineMode& mode);
TEST(Differential, LongRandomRunsAcrossCleanUp) { expectLongRandomRunsAgree(kOneThread); }
TEST(DifferentialTwoThreads, LongRandomRunsAcrossCleanUp) { expectLongRandomRunsAgree(kTwoThreads); }
void expectLongRandomRunsAgree(const EngineMode& mode) {
  random_universe::Params params;
  params.minEdge = 6;
  params.maxEdge = 7;
  params.typeWeights[naive::Drive] = 25;
  params.bondChance = 0.35;
  params.malformedChance = 0;
  for (uint64_t seed : {7001ull, 7002ull, 7003ull}) {
    const std::string text = random_universe::generate(seed, params);
    Pair p(text, mode);
    ASSERT_EQ(p.compareLoad(), "") << "seed " << seed;
    for (int g = 1; g <= 10005; ++g) {
      p.step(g % 97 == 0);
      ASSERT_EQ(p.compareCounters(), "") << "seed " << seed << " after generation " << g;
      if (g % 2500 == 0 || g == 9999 || g == 10000 || g == 10001 || g == 10005 || g <= 10) {
        ASSERT_EQ(p.compareBlocks(), "") << "seed " << seed << " after generation " << g;
      }
    }
  }
}

}  // namespace

#endif  // engine available

#if defined(CELLFORGE_ENGINE_DIFF) && __has_include("universe/universe.h") && __has_include("files/grid_file.h")
namespace {
// The benchmark's cars (a Drive carrying a ring oscillator that drives a
// rotator, a binder/cutter pair and a pusher) at every thread count. The
// scenario must also do what it promises, or the benchmark measures
// something else: the cars travel, the flag turns and the bond between
// the binder's and the cutter's targets comes and goes.
void expectCarsAgree(const EngineMode& mode) {
  std::ostringstream grid;
  workloads::CarOptions options;
  options.cars = 40;
  workloads::writeCars(grid, options);
  Pair p(grid.str(), mode);
  ASSERT_EQ(p.compareLoad(), "");
  const double startX = p.model.centroid().x;
  // Car 0 starts at the origin; its parts at y = 4 and the flag at y = -1
  // travel along x with it.
  int bonded = 0, unbonded = 0, flagSides = 0, lastFlagSide = -1;
  const int kGenerations = 160;
  for (int g = 1; g <= kGenerations; ++g) {
    p.step(false);
    ASSERT_EQ(p.compareCounters(), "") << "after generation " << g;
    if (g <= 20 || g % 10 == 0) {
      ASSERT_EQ(p.compareBlocks(), "") << "after generation " << g;
    }
    for (int x = 0; x < 2 * kGenerations + 8; ++x) {
      if (naive::UniverseCell* c = p.model.peekCell(x, 4, 1); c && c->partType == 31 && x + 1 < 2 * kGenerations + 8) {
        naive::UniverseCell* right = p.model.peekCell(x + 1, 4, 1);
        if (right && right->partType == 31) ((c->bonds & 2) ? bonded : unbonded) += 1;
      }
      if (naive::UniverseCell* f = p.model.peekCell(x, -1, 1); f && f->partType == 31) {
        if (f->side != lastFlagSide) ++flagSides;
        lastFlagSide = f->side;
      }
    }
  }
  EXPECT_EQ(p.engine.verifyConsistency(), "");
  // The trails must have become husks, or the comparison says nothing
  // about them.
  EXPECT_GT(p.engine.huskCount(), 100u);
  EXPECT_GT(p.model.centroid().x, startX + kGenerations / 2);
  EXPECT_GT(bonded, 0);
  EXPECT_GT(unbonded, 0);
  EXPECT_GT(flagSides, 4);
}
}  // namespace

TEST(Differential, CarsWithTimerUnitsAgreeWithNaiveModel) { expectCarsAgree(kOneThread); }
TEST(DifferentialTwoThreads, CarsWithTimerUnitsAgreeWithNaiveModel) {
  expectCarsAgree(kTwoThreads);
  expectCarsAgree(kTwoThreadsStorage);
  expectCarsAgree(kThreeThreads);
  expectCarsAgree(kTwoThreadsAlternating);
}
#endif
