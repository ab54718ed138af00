// random_universe.cpp - see random_universe.h.
#include "random_universe.h"

#include <string>
#include <utility>
#include <vector>

namespace random_universe {

uint64_t Rng::next() {
  // splitmix64
  uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
  return z ^ (z >> 31);
}

int64_t Rng::range(int64_t lo, int64_t hi) {
  if (hi <= lo) return lo;
  const uint64_t span = static_cast<uint64_t>(hi - lo) + 1;
  return lo + static_cast<int64_t>(next() % span);
}

bool Rng::chance(double p) {
  if (p <= 0) return false;
  if (p >= 1) return true;
  return static_cast<double>(next() >> 11) * (1.0 / 9007199254740992.0) < p;
}

namespace {

const int kDx[6] = {0, 1, 0, -1, 0, 0};
const int kDy[6] = {1, 0, -1, 0, 0, 0};
const int kDz[6] = {0, 0, 0, 0, 1, -1};
const int kOpp[6] = {2, 3, 0, 1, 5, 4};

struct CellEntry {
  int32_t type = 0;
  int32_t front = 0;
  int32_t side = 1;
  int32_t out[6] = {0, 0, 0, 0, 0, 0};   // values as written
  int32_t bond[6] = {0, 0, 0, 0, 0, 0};  // values as written
};

struct Grid {
  int ex = 0, ey = 0, ez = 0;
  std::vector<CellEntry> cells;
  CellEntry& at(int x, int y, int z) { return cells[(static_cast<size_t>(y) * ez + z) * ex + x]; }
  bool inside(int x, int y, int z) const {
    return x >= 0 && y >= 0 && z >= 0 && x < ex && y < ey && z < ez;
  }
};

// Small purposeful structures ("motifs") that random placement alone almost
// never builds: several rotators on one target, a bond made in the same
// generation as a move, merging moves of which one is blocked, a
// self-propelled Drive, a NOR ring oscillator, a pulse chain, conflicting
// movers.  Local coordinates; directions as in the direction table.
struct MotifCell {
  int x, y, z;
  int type, front, side, outputs, bonds;
};

const std::vector<std::vector<MotifCell>>& motifs() {
  static const std::vector<std::vector<MotifCell>> list = {
      // three rotators, each driven by a Source, aimed at one target
      {{0, 0, 0, 11, 0, 1, 0, 0},
       {0, -1, 0, 5, 0, 1, 0, 0},
       {0, -2, 0, 9, 0, 1, 1 << 0, 0},
       {-1, 0, 0, 5, 1, 0, 0, 0},
       {-2, 0, 0, 9, 1, 0, 1 << 1, 0},
       {0, 0, -1, 5, 4, 1, 0, 0},
       {0, 0, -2, 9, 4, 1, 1 << 4, 0}},
      // a Binder bonds (0,0,0) to (1,0,0) while a Drive moves (0,0,0) +y
      {{0, -2, 0, 9, 0, 1, 1 << 0, 0},
       {0, -1, 0, 6, 0, 1, 0, 0},
       {0, 0, 0, 12, 0, 1, 0, 0},
       {1, 0, 0, 13, 0, 1, 0, 0},
       {-1, 0, 0, 10, 1, 0, 0, 0}},
      // merging +x moves of which one is blocked by a +y move
      {{1, 0, 1, 6, 4, 2, 0, 0},
       {2, 0, 1, 10, 0, 1, 0, 0},
       {1, 1, 0, 10, 4, 1, 0, 0},
       {1, 1, 1, 10, 1, 0, 0, 0},
       {2, 1, 1, 7, 3, 4, 0, 0}},
      // a Drive bonded to the part in front of it: travels along side
      {{0, 0, 0, 10, 0, 1, 0, 1 << 0}, {0, 1, 0, 11, 0, 1, 0, 1 << 2}},
      // NOR gate and three conductors in a ring: oscillates
      {{0, 0, 0, 2, 0, 1, 0, 0},
       {0, 1, 0, 1, 0, 1, 0, 0},
       {1, 1, 0, 1, 1, 0, 0, 0},
       {1, 0, 0, 1, 2, 1, 0, 0}},
      // PulseInput -> conductors -> Pusher -> part
      {{0, 0, 0, 8, 0, 1, 0, 0},
       {0, 1, 0, 1, 0, 1, 0, 0},
       {0, 2, 0, 1, 0, 1, 0, 0},
       {0, 3, 0, 3, 0, 1, 0, 0},
       {0, 4, 0, 11, 0, 1, 0, 0}},
      // a Pusher (+y) and a Shifter (-y) on one target
      {{0, 0, 0, 11, 0, 1, 0, 0},
       {0, -1, 0, 3, 0, 1, 0, 0},
       {0, -2, 0, 9, 0, 1, 1 << 0, 0},
       {-1, 0, 0, 4, 1, 2, 0, 0},
       {-2, 0, 0, 9, 1, 0, 1 << 1, 0}},
      // a Pusher and a Shifter moving one bonded pair the same way (+y)
      {{0, 0, 0, 11, 0, 1, 0, 1 << 1},
       {1, 0, 0, 12, 0, 1, 0, 1 << 3},
       {0, -1, 0, 3, 0, 1, 0, 0},
       {0, -2, 0, 9, 0, 1, 1 << 0, 0},
       {2, 0, 0, 4, 3, 0, 0, 0},
       {3, 0, 0, 9, 3, 0, 1 << 3, 0}},
  };
  return list;
}

// Quarter turn table (as naive::kQuarterTurn): kTurn[k][d] = R_k(d).
const int kTurn[6][6] = {{0, 5, 2, 4, 1, 3}, {4, 1, 5, 3, 2, 0}, {0, 4, 2, 5, 3, 1},
                         {5, 1, 4, 3, 0, 2}, {3, 0, 1, 2, 4, 5}, {1, 2, 3, 0, 4, 5}};

class Generator {
 public:
  Generator(uint64_t seed, const Params& p) : rng_(seed * 0x2545F4914F6CDD1Dull + 17), p_(p) {}

  std::string run();

 private:
  Rng rng_;
  const Params& p_;
  std::vector<std::string> tokens_;
  // Reader-state mirror, to know when the "record <other>" form is allowed.
  bool lastWasBox_ = false;
  int32_t lastX0_ = 0;
  int openRegions_ = 0;

  void emit(const std::string& t) { tokens_.push_back(t); }
  void emit(int64_t v) { tokens_.push_back(std::to_string(v)); }

  int32_t randomType();
  void randomFrame(CellEntry& c);
  CellEntry randomPart();
  void fillRandom(Grid& g, double density);
  void addBonds(Grid& g);
  void emitCell(const CellEntry& c);
  void emitBox(Grid& g, int32_t ox, int32_t oy, int32_t oz, int bx0, int by0, int bz0, int nx,
               int ny, int nz);
  void maybeRegionStart();
  void maybeRegionEnd();
  void emitEmptyBox();
  void placeMotifs(Grid& g);
  static int mapBits(int bits, const int map[6]);
  void emitRegion(int32_t ox, int32_t oy, int32_t oz, int ex, int ey, int ez);
  void emitFarBox();
  void malform();
  std::string join();
};

int32_t Generator::randomType() {
  int total = 0;
  for (int t = 1; t <= 10; ++t) total += p_.typeWeights[t];
  if (total <= 0) return 1;
  int r = static_cast<int>(rng_.range(0, total - 1));
  for (int t = 1; t <= 10; ++t) {
    if (r < p_.typeWeights[t]) return t;
    r -= p_.typeWeights[t];
  }
  return 1;
}

void Generator::randomFrame(CellEntry& c) {
  c.front = static_cast<int32_t>(rng_.range(0, 5));
  // a side perpendicular to front: any direction but front and its opposite
  int candidates[4];
  int n = 0;
  for (int d = 0; d < 6; ++d)
    if (d != c.front && d != kOpp[c.front]) candidates[n++] = d;
  c.side = candidates[rng_.range(0, 3)];
}

CellEntry Generator::randomPart() {
  CellEntry c;
  c.type = randomType();
  randomFrame(c);
  if (rng_.chance(p_.oddChance)) {
    switch (rng_.range(0, 6)) {
      case 0: c.type = 11; break;
      case 1: c.type = -1; break;
      case 2: c.front = static_cast<int32_t>(rng_.range(6, 9)); break;
      case 3: c.side = static_cast<int32_t>(rng_.range(-3, -1)); break;
      case 4: c.side = c.front; break;              // not perpendicular
      case 5: c.side = kOpp[c.front]; break;        // not perpendicular
      default: c.front = -1; c.side = 7; break;
    }
  }
  for (int d = 0; d < 6; ++d)
    if (rng_.chance(p_.outputChance)) c.out[d] = rng_.chance(0.8) ? 1 : static_cast<int32_t>(rng_.range(-3, 9)) | 1;
  return c;
}

void Generator::fillRandom(Grid& g, double density) {
  g.cells.assign(static_cast<size_t>(g.ex) * g.ey * g.ez, CellEntry());
  for (int y = 0; y < g.ey; ++y)
    for (int z = 0; z < g.ez; ++z)
      for (int x = 0; x < g.ex; ++x) {
        if (rng_.chance(density)) {
          g.at(x, y, z) = randomPart();
        } else if (rng_.chance(0.03)) {
          // An entry of type 0 whose other values are not zero: creates nothing.
          CellEntry& c = g.at(x, y, z);
          c.front = static_cast<int32_t>(rng_.range(0, 5));
          c.side = static_cast<int32_t>(rng_.range(0, 5));
          c.out[rng_.range(0, 5)] = 1;
          const int d = static_cast<int>(rng_.range(0, 5));
          c.bond[d] = 1 << d;
        }
      }
}

void Generator::addBonds(Grid& g) {
  for (int y = 0; y < g.ey; ++y)
    for (int z = 0; z < g.ez; ++z)
      for (int x = 0; x < g.ex; ++x) {
        CellEntry& a = g.at(x, y, z);
        if (a.type == 0) continue;
        for (int d = 0; d < 6; ++d) {
          const int nx = x + kDx[d], ny = y + kDy[d], nz = z + kDz[d];
          const bool positive = (d == 0 || d == 1 || d == 4);
          if (positive && g.inside(nx, ny, nz) && g.at(nx, ny, nz).type != 0 &&
              rng_.chance(p_.bondChance)) {
            // both sides; mostly the masked value, sometimes another non-zero
            a.bond[d] = rng_.chance(0.85) ? (1 << d) : static_cast<int32_t>(rng_.range(1, 99));
            CellEntry& b = g.at(nx, ny, nz);
            const int o = kOpp[d];
            b.bond[o] = rng_.chance(0.85) ? (1 << o) : -static_cast<int32_t>(rng_.range(1, 9));
          } else if (rng_.chance(p_.strayBondChance)) {
            a.bond[d] = 1 << d;  // one-sided or dangling; cleared by checkBonds
          }
        }
      }
}

int Generator::mapBits(int bits, const int map[6]) {
  int out = 0;
  for (int d = 0; d < 6; ++d)
    if (bits & (1 << d)) out |= 1 << map[d];
  return out;
}

void Generator::placeMotifs(Grid& g) {
  const int count = static_cast<int>(rng_.range(0, static_cast<int64_t>(2 * p_.motifRate + 0.5)));
  for (int m = 0; m < count; ++m) {
    const std::vector<MotifCell>& motif = motifs()[rng_.range(0, motifs().size() - 1)];
    // a random orientation: up to four quarter turns about random axes
    int map[6] = {0, 1, 2, 3, 4, 5};
    const int turns = static_cast<int>(rng_.range(0, 4));
    for (int t = 0; t < turns; ++t) {
      const int k = static_cast<int>(rng_.range(0, 5));
      for (int d = 0; d < 6; ++d) map[d] = kTurn[k][map[d]];
    }
    auto place = [&](const MotifCell& c, int& x, int& y, int& z) {
      // local (x, y, z) = x * (+x) + y * (+y) + z * (+z), each axis mapped
      x = c.x * kDx[map[1]] + c.y * kDx[map[0]] + c.z * kDx[map[4]];
      y = c.x * kDy[map[1]] + c.y * kDy[map[0]] + c.z * kDy[map[4]];
      z = c.x * kDz[map[1]] + c.y * kDz[map[0]] + c.z * kDz[map[4]];
    };
    for (int attempt = 0; attempt < 6; ++attempt) {
      const int ax = static_cast<int>(rng_.range(0, g.ex - 1));
      const int ay = static_cast<int>(rng_.range(0, g.ey - 1));
      const int az = static_cast<int>(rng_.range(0, g.ez - 1));
      bool fits = true;
      for (const MotifCell& c : motif) {
        int x, y, z;
        place(c, x, y, z);
        if (!g.inside(ax + x, ay + y, az + z)) fits = false;
      }
      if (!fits) continue;
      for (const MotifCell& c : motif) {
        int x, y, z;
        place(c, x, y, z);
        CellEntry entry;
        entry.type = c.type;
        entry.front = map[c.front];
        entry.side = map[c.side];
        const int outputs = mapBits(c.outputs, map);
        const int bonds = mapBits(c.bonds, map);
        for (int d = 0; d < 6; ++d) {
          entry.out[d] = (outputs >> d) & 1;
          entry.bond[d] = bonds & (1 << d);
        }
        g.at(ax + x, ay + y, az + z) = entry;
      }
      break;
    }
  }
}

void Generator::emitCell(const CellEntry& c) {
  emit(c.type);
  emit(c.front);
  emit(c.side);
  for (int d = 0; d < 6; ++d) emit(c.out[d]);
  for (int d = 0; d < 6; ++d) emit(c.bond[d]);
}

void Generator::maybeRegionStart() {
  static const char* const kNames[] = {"cpu", "alu", "mem", "a", "b", "reg.x", "io", "alu"};
  if (!rng_.chance(p_.regionChance)) return;
  const int levels = static_cast<int>(rng_.range(1, 2));
  for (int i = 0; i < levels; ++i) {
    emit("record");
    emit("identifier");
    emit(kNames[rng_.range(0, 7)]);
    ++openRegions_;
  }
  lastWasBox_ = false;
}

void Generator::maybeRegionEnd() {
  if (openRegions_ == 0 && !rng_.chance(0.05)) return;
  // usually close what is open; sometimes fewer, sometimes one too many
  int ups = openRegions_;
  if (rng_.chance(0.2)) ups = static_cast<int>(rng_.range(0, openRegions_ + 1));
  for (int i = 0; i < ups; ++i) {
    emit("record");
    emit("up");
  }
  openRegions_ = openRegions_ - ups < 0 ? 0 : openRegions_ - ups;
  if (ups > 0) lastWasBox_ = false;
}

void Generator::emitBox(Grid& g, int32_t ox, int32_t oy, int32_t oz, int bx0, int by0, int bz0,
                        int nx, int ny, int nz) {
  const int32_t x0 = ox + bx0, y0 = oy + by0, z0 = oz + bz0;
  const int form = static_cast<int>(rng_.range(0, 99));
  if (lastWasBox_ && lastX0_ == x0 && form < 25) {
    // "record" followed by another word reuses the previous x0.
    emit("record");
    emit(rng_.chance(0.5) ? "foo" : "Region");  // "Region" is not "region"
  } else if (form < 25 + static_cast<int>(p_.keywordBoxChance * 75)) {
    emit("record");
    emit("region");
    emit(x0);
  } else {
    // plain box; x0 by leading-integer conversion (sometimes with a tail)
    const int style = static_cast<int>(rng_.range(0, 19));
    std::string word = std::to_string(x0);
    if (style == 0) {
      word.append("abc");
      emit(word);
    } else if (style == 1 && x0 >= 0) {
      word.insert(word.begin(), '+');
      emit(word);
    } else
      emit(x0);
  }
  emit(y0);
  emit(z0);
  emit(nx);
  emit(ny);
  emit(nz);
  // y outermost, then z, then x innermost
  for (int iy = 0; iy < ny; ++iy)
    for (int iz = 0; iz < nz; ++iz)
      for (int ix = 0; ix < nx; ++ix) emitCell(g.at(bx0 + ix, by0 + iy, bz0 + iz));
  lastWasBox_ = true;
  lastX0_ = x0;
}

void Generator::emitEmptyBox() {
  // A box with a zero count: no entries follow.
  int64_t counts[3] = {rng_.range(0, 4), rng_.range(0, 4), rng_.range(0, 4)};
  counts[rng_.range(0, 2)] = 0;
  if (rng_.chance(0.3)) counts[(rng_.range(0, 1) + 1) % 3] = 4294967295ll;  // huge, but empty
  const int32_t x0 = static_cast<int32_t>(rng_.range(-5, 5));
  if (rng_.chance(0.5)) {
    emit("record");
    emit("region");
  }
  emit(x0);
  emit(rng_.range(-5, 5));
  emit(rng_.range(-5, 5));
  emit(counts[0]);
  emit(counts[1]);
  emit(counts[2]);
  lastWasBox_ = true;
  lastX0_ = x0;
}

void Generator::emitFarBox() {
  Grid g;
  g.ex = 4;
  g.ey = 1;
  g.ez = 1;
  g.cells.assign(4, CellEntry());
  for (int i = 0; i < 4; ++i) g.at(i, 0, 0) = randomPart();
  const int axis = static_cast<int>(rng_.range(0, 2));
  const int32_t far = rng_.chance(0.5) ? 999999998 : -1000000002;
  // The box always extends 4 cells along x; put it at the far value on one
  // axis (along x some of its cells stay inside the limit).
  if (axis == 0)
    emitBox(g, far, 0, 0, 0, 0, 0, 4, 1, 1);
  else
    emitBox(g, 0, axis == 1 ? far : 0, axis == 2 ? far : 0, 0, 0, 0, 4, 1, 1);
}

void Generator::malform() {
  if (tokens_.empty()) return;
  switch (rng_.range(0, 7)) {
    case 0: {  // truncate somewhere in the last third
      const size_t n = tokens_.size();
      tokens_.resize(static_cast<size_t>(rng_.range(static_cast<int64_t>(n * 2 / 3), n - 1)));
      break;
    }
    case 1: {  // a non-number word in the middle of the numbers
      const size_t i = static_cast<size_t>(rng_.range(static_cast<int64_t>(tokens_.size() / 2),
                                                      tokens_.size() - 1));
      tokens_[i] = rng_.chance(0.5) ? "x1" : "--3";
      break;
    }
    case 2:  // an over-long word as a region name
      emit("record");
      emit("identifier");
      emit(std::string(130, 'n'));
      emit(1);
      emit(1);
      emit(1);
      emit(1);
      emit(1);
      emit(1);
      break;
    case 3:  // a negative count read as a huge unsigned count; the data runs out
      emit(1);
      emit(1);
      emit(1);
      emit(-1);
      emit(1);
      emit(1);
      for (int i = 0; i < 3; ++i) {
        CellEntry c = randomPart();
        emitCell(c);
      }
      break;
    case 6: {  // a number followed by letters in one word ("7abc"): the
               // stream extraction takes 7 and fails on "abc" at the next read
      const size_t i = static_cast<size_t>(rng_.range(static_cast<int64_t>(tokens_.size() / 2),
                                                      tokens_.size() - 1));
      if (!tokens_[i].empty() && (tokens_[i][0] == '-' || (tokens_[i][0] >= '0' && tokens_[i][0] <= '9')))
        tokens_[i].append("abc");
      break;
    }
    case 7: {  // a number beyond the 32-bit range inside the data
      const size_t i = static_cast<size_t>(rng_.range(static_cast<int64_t>(tokens_.size() / 2),
                                                      tokens_.size() - 1));
      tokens_[i] = rng_.chance(0.5) ? "4294967296" : "-2147483649";
      break;
    }
    case 4:  // a lone "record" at the end
      emit("record");
      break;
    default:  // an over-long word where a box would start
      emit(std::string(128, '7'));
      emit(1);
      emit(1);
      emit(1);
      emit(1);
      emit(1);
      break;
  }
}

std::string Generator::join() {
  std::string text;
  for (size_t i = 0; i < tokens_.size(); ++i) {
    if (i > 0) {
      const int64_t r = rng_.range(0, 99);
      if (r < 70)
        text += ' ';
      else if (r < 92)
        text += '\n';
      else if (r < 97)
        text += '\t';
      else
        text += " \r\n  ";
    }
    text += tokens_[i];
  }
  if (rng_.chance(0.7)) text += '\n';
  return text;
}

void Generator::emitRegion(int32_t ox, int32_t oy, int32_t oz, int ex, int ey, int ez) {
  Grid g;
  g.ex = ex;
  g.ey = ey;
  g.ez = ez;
  fillRandom(g, p_.density);
  addBonds(g);
  placeMotifs(g);

  // Cover the region with boxes: one box, slabs along y, or slabs along x.
  const int mode = static_cast<int>(rng_.range(0, 2));
  std::vector<int> cuts;
  const int along = mode == 1 ? g.ey : g.ex;
  cuts.push_back(0);
  if (mode != 0) {
    const int pieces = static_cast<int>(rng_.range(2, 4));
    for (int i = 1; i < pieces; ++i) cuts.push_back(static_cast<int>(rng_.range(1, along - 1)));
  }
  cuts.push_back(along);
  // sort and deduplicate (small insertion sort)
  for (size_t i = 1; i < cuts.size(); ++i)
    for (size_t j = i; j > 0 && cuts[j - 1] > cuts[j]; --j) std::swap(cuts[j - 1], cuts[j]);
  std::vector<int> unique;
  for (int c : cuts)
    if (unique.empty() || unique.back() != c) unique.push_back(c);

  for (size_t i = 0; i + 1 < unique.size(); ++i) {
    if (rng_.chance(0.08)) emitEmptyBox();
    maybeRegionStart();
    const int a = unique[i], b = unique[i + 1];
    if (mode == 1)
      emitBox(g, ox, oy, oz, 0, a, 0, g.ex, b - a, g.ez);
    else
      emitBox(g, ox, oy, oz, a, 0, 0, b - a, g.ey, g.ez);
    maybeRegionEnd();
  }

  // Overlapping boxes: fresh content over part of the region -> conflicts.
  if (rng_.chance(p_.overlapChance)) {
    const int extra = static_cast<int>(rng_.range(1, 3));
    for (int e = 0; e < extra; ++e) {
      Grid o;
      o.ex = static_cast<int>(rng_.range(1, 4));
      o.ey = static_cast<int>(rng_.range(1, 4));
      o.ez = static_cast<int>(rng_.range(1, 4));
      fillRandom(o, 0.6);
      addBonds(o);
      const int px = static_cast<int>(rng_.range(-1, g.ex - 1));
      const int py = static_cast<int>(rng_.range(-1, g.ey - 1));
      const int pz = static_cast<int>(rng_.range(-1, g.ez - 1));
      maybeRegionStart();
      emitBox(o, ox + px, oy + py, oz + pz, 0, 0, 0, o.ex, o.ey, o.ez);
      maybeRegionEnd();
    }
  }
}

std::string Generator::run() {
  const int ex = static_cast<int>(rng_.range(p_.minEdge, p_.maxEdge));
  const int ey = static_cast<int>(rng_.range(p_.minEdge, p_.maxEdge));
  const int ez = static_cast<int>(rng_.range(p_.minEdge, p_.maxEdge));
  if (rng_.chance(p_.hashTwinChance) && ex <= 24 && ez <= 27) {
    // Two regions whose blocks share hash buckets pairwise.  With
    // X = bx + 30, Y = by + 30, Z = bz + 30, X < 32 and Z < 32, the key is
    // Y*1024 + X*32 + Z; the block (X + 20, Y + 97, Z + 23) has the key
    // plus 99991, the same bucket.  So the first region must lie in
    // x in [-60, -37] (X in 0..11) and z in [-90, -64] (Z in 0..8), and the
    // twin is offset by (40, 194, 69) cells.
    const int32_t ox = static_cast<int32_t>(rng_.range(-60, -37 - ex + 1));
    const int32_t oy = static_cast<int32_t>(rng_.range(-p_.originSpread, p_.originSpread));
    const int32_t oz = static_cast<int32_t>(rng_.range(-90, -64 - ez + 1));
    const bool twinFirst = rng_.chance(0.5);
    if (twinFirst) emitRegion(ox + 40, oy + 194, oz + 69, ex, ey, ez);
    emitRegion(ox, oy, oz, ex, ey, ez);
    if (!twinFirst) emitRegion(ox + 40, oy + 194, oz + 69, ex, ey, ez);
  } else {
    const int32_t ox = static_cast<int32_t>(rng_.range(-p_.originSpread, p_.originSpread));
    const int32_t oy = static_cast<int32_t>(rng_.range(-p_.originSpread, p_.originSpread));
    const int32_t oz = static_cast<int32_t>(rng_.range(-p_.originSpread, p_.originSpread));
    emitRegion(ox, oy, oz, ex, ey, ez);
  }
  if (rng_.chance(p_.farChance)) emitFarBox();
  if (rng_.chance(p_.malformedChance)) malform();
  return join();
}

}  // namespace

std::string generate(uint64_t seed, const Params& params) {
  Generator g(seed, params);
  return g.run();
}

}  // namespace random_universe
