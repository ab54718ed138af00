// random_universe.h - generator of random grid-file text for the
// randomised comparison of the naive model with the fast engine.
//
// The generator is deterministic: the same seed and parameters always give
// the same text, on every platform (it uses its own PRNG and no standard
// distributions).
#pragma once

#include <cstdint>
#include <string>

namespace random_universe {

struct Params {
  // Edge lengths of the region that the boxes cover (cells).
  int minEdge = 6;
  int maxEdge = 12;
  // Origin of the region is drawn from [-originSpread, originSpread].
  int originSpread = 9;
  // Fraction of cells that hold a part.
  double density = 0.35;
  // Relative weights of the part types 1..10 (index = part type; index 0
  // is unused).  Weighted toward the movers by default.
  int typeWeights[11] = {0, /*Conductor*/ 10, /*NorGate*/ 6, /*Pusher*/ 10, /*Shifter*/ 8,
                         /*Rotator*/ 8, /*Binder*/ 6, /*Cutter*/ 5, /*PulseInput*/ 5,
                         /*Source*/ 8, /*Drive*/ 10};
  // Chance, per pair of face-adjacent parts, of a bond on both sides.
  double bondChance = 0.25;
  // Chance, per part and face, of a one-sided (or dangling) bond.
  double strayBondChance = 0.02;
  // Chance, per part and face, of a set output bit.
  double outputChance = 0.08;
  // Chance, per box, of being preceded by region start records.
  double regionChance = 0.4;
  // Chance, per box, of the "record" "region" keyword form.
  double keywordBoxChance = 0.3;
  // Chance, per universe, of extra boxes laid over the region (conflicts).
  double overlapChance = 0.3;
  // Chance, per part, of an odd value (type 11 or -1, an invalid direction,
  // a non-perpendicular frame).
  double oddChance = 0.02;
  // Chance, per universe, of one malformed spot (truncation, a non-number
  // word, an over-long word, a huge count ...).
  double malformedChance = 0.04;
  // Chance, per universe, of a box near or beyond the 1e9 coordinate limit.
  double farChance = 0.03;
  // Chance, per universe, of a second region placed so that each of its
  // blocks shares a hash bucket with a block of the first region (so the
  // chain order, hence the order in which blocks are created, shows in the
  // written form).
  double hashTwinChance = 0.35;
  // Average number of motifs (small purposeful structures: rotators sharing
  // a target, a bond made while a move is requested, merging moves, a
  // self-propelled Drive, a NOR ring, a pulse chain, conflicting movers)
  // laid into each region in a random orientation.
  double motifRate = 2.0;
};

// Random grid text for the given seed.
std::string generate(uint64_t seed, const Params& params = Params());

// Simple deterministic PRNG (splitmix64), also useful to the tests.
class Rng {
 public:
  explicit Rng(uint64_t seed) : state_(seed) {}
  uint64_t next();
  // Uniform integer in [lo, hi] (inclusive).
  int64_t range(int64_t lo, int64_t hi);
  // True with probability p.
  bool chance(double p);

 private:
  uint64_t state_;
};

}  // namespace random_universe
