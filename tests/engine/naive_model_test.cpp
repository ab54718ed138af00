// naive_model_test.cpp - hand-worked checks of the naive reference model (the
// oracle) that only it establishes.  What universe_test.cpp and
// grid_file_test.cpp check on the fast engine reaches the oracle through
// differential_test.cpp, which requires both to save identical grids.
#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "naive_model.h"
#include "random_universe.h"

using naive::Model;
using naive::UniverseBlock;
using naive::UniverseCell;

namespace {

// One cell entry of a grid file: type, front, side, output bits, bond bits.
std::string entry(int type, int front, int side, int outputs = 0, int bonds = 0) {
  std::ostringstream s;
  s << type << ' ' << front << ' ' << side;
  for (int d = 0; d < 6; ++d) s << ' ' << ((outputs >> d) & 1);
  for (int d = 0; d < 6; ++d) s << ' ' << (bonds & (1 << d));
  s << '\n';
  return s.str();
}

UniverseBlock* blockOf(const Model& m, int x, int y, int z) {
  int32_t bx, by, bz;
  Model::blockCoordinates(x, y, z, bx, by, bz);
  return m.lookupBlock(bx, by, bz);
}

int typeAt(const Model& m, int x, int y, int z) {
  const UniverseCell* c = m.peekCell(x, y, z);
  return c != nullptr ? c->partType : 0;
}

int partCount(const Model& m) {
  int n = 0;
  for (int i = 0; i < naive::kBucketCount; ++i)
    for (naive::ChainNode* node = m.buckets[i]; node != nullptr; node = node->next)
      for (int s = 0; s < 12; ++s) n += node->block->cells[s]->partType != 0;
  return n;
}

void steps(Model& m, int n) {
  for (int i = 0; i < n; ++i) m.step();
}

// The state that must hold between generations (empty commit and next
// lists, no move requests, no pending turns); empty string when it holds.
std::string betweenGenerations(const Model& m) {
  std::ostringstream problems;
  if (!m.commitList.empty()) problems << "commit list not empty; ";
  if (!m.nextList->empty()) problems << "next list not empty; ";
  if (!m.moveRequests.empty()) problems << "move requests left; ";
  for (const UniverseBlock* b : *m.currentList)
    if ((b->listFlags & naive::kOnCurrent) == 0 || (b->listFlags & ~(naive::kOnCurrent | naive::kOnMove)) != 0)
      problems << "current-list block with flags " << b->listFlags << "; ";
  for (int i = 0; i < naive::kBucketCount; ++i)
    for (naive::ChainNode* node = m.buckets[i]; node != nullptr; node = node->next)
      for (int s = 0; s < 12; ++s) {
        const UniverseCell* c = node->block->cells[s];
        if (c->moveRequest != nullptr) problems << "cell keeps a move request; ";
        if (c->rotatePending != 0) problems << "cell keeps rotatePending; ";
      }
  problems << m.checkInvariants();
  return problems.str();
}

// ---- Data model: hash order, linking, queries ------------------------------

TEST(NaiveDataModel, CollidingKeysShareABucketInInsertionOrder) {
  // ((by+30)<<10) ^ ((bx+30)<<5) ^ (bz+30): (bx,by,bz) = (-30,0,2) and
  // (-29,0,-30) both give 30720 ^ 32.
  EXPECT_EQ(Model::bucketOf(-30, 0, 2), Model::bucketOf(-29, 0, -30));
  EXPECT_EQ(Model::bucketOf(-30, 0, 2), 30752u);
  Model m;
  m.placePart(-60, 0, 6, 11);    // block (-30, 0, 2)
  m.placePart(-58, 1, -90, 12);  // block (-29, 0, -30)
  UniverseBlock* a = m.lookupBlock(-30, 0, 2);
  UniverseBlock* b = m.lookupBlock(-29, 0, -30);
  ASSERT_NE(a, nullptr);
  ASSERT_NE(b, nullptr);
  EXPECT_NE(a, b);
  naive::ChainNode* head = m.buckets[30752];
  ASSERT_NE(head, nullptr);
  EXPECT_EQ(head->block, a);  // chain order = insertion order
  ASSERT_NE(head->next, nullptr);
  EXPECT_EQ(head->next->block, b);
  // Written in bucket order, then chain order.
  const std::string text = m.writeBlocksString();
  EXPECT_EQ(text.find("-60 0 6\n"), 0u);
  EXPECT_NE(text.find("-58 0 -90\n"), std::string::npos);
  // Hash keys wrap in unsigned arithmetic for negative values.
  EXPECT_EQ(Model::bucketOf(-31, -31, -31),
            ((0xFFFFFFFFu << 10) ^ (0xFFFFFFFFu << 5) ^ 0xFFFFFFFFu) % 99991u);
}

// A placed part replaces the old cell in its neighbours' links and wakes
// the existing neighbour blocks.  Cells of a block created during a run start
// unlinked; a part that arrives in one, placed or moved, is linked both ways.
TEST(NaiveDataModel, LinksFollowPlacementsAndArrivingParts) {
  {
    Model m;
    UniverseCell* a = m.placePart(0, 0, 0, naive::Conductor);
    UniverseCell* b = m.placePart(0, 1, 0, naive::Conductor);
    EXPECT_EQ(a->links[0], b);
    EXPECT_EQ(b->links[2], a);
    UniverseCell* c = m.placePart(0, 1, 0, naive::NorGate);  // replaces b
    EXPECT_EQ(a->links[0], c);
    EXPECT_EQ(c->links[2], a);
    steps(m, 3);
    EXPECT_TRUE(m.currentList->empty());
    m.placePart(2, 0, 0, 11);  // block (1,0,0); its -x neighbour (0,0,0) exists
    EXPECT_TRUE(Model::onList(*m.currentList, blockOf(m, 0, 0, 0)));
    EXPECT_TRUE(Model::onList(*m.currentList, blockOf(m, 2, 0, 0)));
    EXPECT_EQ(m.checkInvariants(), "");
  }
  {
    Model m;
    UniverseCell* p = m.placePart(0, 0, 0, naive::Conductor, 0, 1);  // behind it: (0,-1,0)
    steps(m, 3);
    EXPECT_EQ(p->links[2], nullptr);
    m.injectSignal(0, 0, 0, 2);  // creates block (0,-1,0); (0,-1,0) drives +y
    ASSERT_NE(m.peekCell(0, -1, 0), nullptr);
    EXPECT_TRUE(m.testOutput(0, -1, 0, 0));
    m.step();
    EXPECT_FALSE(m.testOutput(0, 0, 0, 0));  // not seen: the link is none
    EXPECT_EQ(p->links[2], nullptr);
    UniverseCell* q = m.placePart(0, -1, 0, 11);
    EXPECT_EQ(p->links[2], q);
    EXPECT_EQ(q->links[0], p);
    steps(m, 3);
    m.injectSignal(0, 0, 0, 2);
    m.step();
    EXPECT_TRUE(m.testOutput(0, 0, 0, 0));
    EXPECT_EQ(m.checkInvariants(), "");
  }
  {
    // Source (stored output +y) -> Pusher facing +y -> part at (0,1,0); the
    // part is pushed to (0,2,0), whose block (0,1,0) is created by the move.
    Model m;
    m.placePart(0, -1, 0, naive::Source, 0, 1, 1);
    m.placePart(0, 0, 0, naive::Pusher, 0, 1);
    m.placePart(0, 1, 0, 11);
    ASSERT_EQ(blockOf(m, 0, 2, 0), nullptr);
    m.step();
    EXPECT_EQ(typeAt(m, 0, 1, 0), 0);
    EXPECT_EQ(typeAt(m, 0, 2, 0), 11);
    UniverseCell* moved = m.peekCell(0, 2, 0);
    UniverseCell* behind = m.peekCell(0, 1, 0);
    UniverseCell* ahead = m.peekCell(0, 3, 0);
    EXPECT_EQ(moved->links[2], behind);
    EXPECT_EQ(behind->links[0], moved);
    EXPECT_EQ(moved->links[0], ahead);
    EXPECT_EQ(ahead->links[2], moved);
    EXPECT_EQ(m.checkInvariants(), "");
  }
}

TEST(NaiveDataModel, MarkerTieOnXGoesToTheFirstInBucketOrder) {
  Model m;
  EXPECT_EQ(m.findMarker(), (naive::Position{0, 0, 0}));
  m.placePart(0, 0, 0, naive::Rotator, 0, 1);
  m.placePart(5, 0, 3, naive::Rotator, 0, 1);
  m.placePart(2, -1, 3, naive::Rotator, 0, 1);
  m.placePart(7, -1, 3, naive::Rotator, 0, 1);
  m.placePart(9, -5, 8, naive::Rotator, 1, 0);  // does not face +y
  m.placePart(9, -5, 9, naive::Conductor, 0, 1);
  // Highest z, then smallest y; x is never compared: of (2,-1,3) and
  // (7,-1,3) the one met first in bucket order wins.  Block (3,-1,1) has key
  // 28735, block (1,-1,1) key 30719.
  EXPECT_LT(Model::bucketOf(3, -1, 1), Model::bucketOf(1, -1, 1));
  EXPECT_EQ(m.findMarker(), (naive::Position{7, -1, 3}));
}

// ---- Generation update -----------------------------------------------------

TEST(NaiveGeneration, PhaseOneWakeMaskFollowsTheReportingCell) {
  // A conductor at zi = 1 (no z bits), xi = 1 (+x), yi = 0 (-y): the mask
  // is 4 | 2 and wakes the +x and -y neighbours and the block itself only.
  Model m;
  m.placePart(1, 0, 1, naive::Conductor, 0, 1);
  m.placePart(1, -1, 1, 11);      // block (0,-1,0): -y neighbour
  m.placePart(2, 0, 1, 11);       // block (1,0,0): +x neighbour
  m.placePart(-1, 0, 1, 11);      // block (-1,0,0): -x neighbour (not woken)
  m.placePart(1, 2, 1, 11);       // block (0,1,0): +y neighbour (not woken)
  m.placePart(1, 0, 3, 11);       // block (0,0,1): +z neighbour (not woken)
  steps(m, 3);
  m.injectSignal(1, 0, 1, 2);  // from (1,-1,1), same block as the -y part
  // The injection woke (0,-1,0) and its existing neighbour (0,0,0) only.
  m.evaluatePhase();
  EXPECT_EQ(m.activeBlockCount, 2);
  std::vector<UniverseBlock*> next(m.nextList->begin(), m.nextList->end());
  // (0,-1,0) is on the next list from the injection's cellForUpdate; the
  // report adds, in the order -x, -y, -z, itself, +z, +y, +x, only the block
  // itself and its +x neighbour (-y is there already).
  std::vector<UniverseBlock*> expected = {blockOf(m, 1, -1, 1), blockOf(m, 1, 0, 1),
                                          blockOf(m, 2, 0, 1)};
  EXPECT_EQ(next, expected);
  m.movePhase();
  m.commitPhase();
  m.finishGeneration();
  EXPECT_EQ(betweenGenerations(m), "");
}

// Phase 2 compares only the vector of the source's request (not necessarily
// the same request) and does not look at whether that request is blocked; a
// cell claimed by two same-vector requests follows the later one.  When the
// later request is then blocked, parts can be duplicated or lost, although a
// move that goes ahead otherwise neither creates nor destroys a part.  These
// two tests pin that behaviour (the fast engine agrees with it).
TEST(NaiveGeneration, LiteralMergeWithABlockedRequestCanDuplicateAPart) {
  Model m;
  // Block (0,0,0) is created first (the Binder is read first), block (1,0,0)
  // second.  Phase 1: the Drive at (1,1,0) asks R1 (+x) for (1,1,1): claims
  // (1,1,1), (2,1,1), (3,1,1).  The Drive at (1,1,1) asks R2 (+y) for
  // (2,1,1): meets R1 -> both blocked.  The Drive at (2,0,1) asks R3 (+x)
  // for (2,1,1): takes over (2,1,1) and (3,1,1) from R1 (same vector).
  // Phase 2: (2,1,1) copies its source (1,1,1), whose request R1 has the same
  // vector (blocked or not); (1,1,1) itself stays (R1 is blocked).
  m.readGridText("1 0 1 1 1 1 " + entry(6, 4, 2) + "2 0 1 1 1 1 " + entry(10, 0, 1) +
                 "1 1 0 1 1 1 " + entry(10, 4, 1) + "1 1 1 1 1 1 " + entry(10, 1, 0) +
                 "2 1 1 1 1 1 " + entry(7, 3, 4));
  EXPECT_EQ(partCount(m), 5);
  m.step();
  EXPECT_EQ(typeAt(m, 1, 1, 1), naive::Drive);
  EXPECT_EQ(typeAt(m, 2, 1, 1), naive::Drive);  // a copy
  EXPECT_EQ(typeAt(m, 3, 1, 1), naive::Cutter);
  EXPECT_EQ(partCount(m), 6);
}

TEST(NaiveGeneration, LiteralMergeWithABlockedRequestCanLoseAPart) {
  Model m;
  // R1 (-x, Drive at (1,1,1)) claims the Binder (1,1,0), the Cutter (0,1,0)
  // and (-1,1,0); R2 (-x, Drive at (0,2,0)) takes over (0,1,0) and (-1,1,0);
  // R3 (-z, Drive at (0,2,2)) meets R2 at (0,1,0): R2 and R3 blocked.  R1
  // goes ahead: (1,1,0) receives emptiness from (2,1,0), but the Binder's
  // destination (0,1,0) now follows the blocked R2 and keeps the Cutter.
  std::string text = "0 1 0 2 1 3\n";
  text += entry(7, 1, 2) + entry(6, 3, 0) + entry(9, 5, 3) + entry(10, 5, 3) + entry(1, 0, 4) +
          entry(0, 0, 1);
  text += "0 2 0 1 1 3\n" + entry(10, 2, 3) + entry(0, 0, 1) + entry(10, 2, 5);
  m.readGridText(text);
  EXPECT_EQ(partCount(m), 7);
  m.step();
  EXPECT_EQ(typeAt(m, 1, 1, 0), 0);             // the Binder is gone
  EXPECT_EQ(typeAt(m, 0, 1, 0), naive::Cutter);  // not replaced
  EXPECT_EQ(typeAt(m, -1, 1, 0), 0);
  EXPECT_EQ(partCount(m), 6);
}

TEST(NaiveGeneration, CleanUpAfter10000GenerationsRemovesOnlyIdleEmptyBlocks) {
  Model m;
  m.placePart(0, 0, 0, 11);           // a part: never removed
  m.cellForUpdate(100, 100, 100);     // an empty block: removed
  // A Drive bonded to the part in front of it travels +x forever, leaving
  // empty blocks behind.
  m.placePart(0, 10, 0, naive::Drive, 0, 1, 0, 1 << 0);
  m.placePart(0, 11, 0, 11, 0, 1, 0, 1 << 2);
  for (int g = 1; g < 10000; ++g) m.step();
  EXPECT_EQ(typeAt(m, 9999, 10, 0), naive::Drive);
  EXPECT_EQ(typeAt(m, 9999, 11, 0), 11);
  // An empty block put on the lists just before the clean-up survives it.
  m.injectSignal(200, 200, 200, 0);  // cell (200,201,200)
  const size_t before = m.blockCount();
  EXPECT_GT(before, 4900u);
  EXPECT_NE(m.lookupBlock(50, 50, 33), nullptr);
  m.step();  // generation 10000: clean-up
  EXPECT_EQ(m.generation, 10000u);
  EXPECT_EQ(m.lookupBlock(50, 50, 33), nullptr);
  EXPECT_NE(blockOf(m, 0, 0, 0), nullptr);
  EXPECT_NE(blockOf(m, 200, 201, 200), nullptr);
  EXPECT_EQ(typeAt(m, 10000, 10, 0), naive::Drive);
  EXPECT_LT(m.blockCount(), 30u);
  // every remaining block holds a part or is on a list
  for (int i = 0; i < naive::kBucketCount; ++i)
    for (naive::ChainNode* node = m.buckets[i]; node != nullptr; node = node->next) {
      bool part = false;
      for (int s = 0; s < 12; ++s) part = part || node->block->cells[s]->partType != 0;
      EXPECT_TRUE(part || node->block->listFlags != 0);
    }
  EXPECT_EQ(betweenGenerations(m), "");
  m.step();
  EXPECT_EQ(typeAt(m, 10001, 10, 0), naive::Drive);
  // The counter wraps unsigned; at 0 (a multiple of 10000) the clean-up runs.
  m.generation = 0xFFFFFFFFu;
  m.step();
  EXPECT_EQ(m.generation, 0u);
  EXPECT_EQ(typeAt(m, 10002, 10, 0), naive::Drive);
}

// ---- Rules and the quarter turn --------------------------------------------

TEST(NaiveRules, ConductorNorGateAndSourceInputsAndReports) {
  // A conductor reports only when its bit 0 changes.
  for (int ownBit0 = 0; ownBit0 <= 1; ++ownBit0) {
    Model m;
    m.placePart(0, -1, 0, naive::Conductor, 0, 1, 59);
    UniverseCell* c = m.placePart(0, 0, 0, naive::Conductor, 0, 1, ownBit0 ? 1 : 0);
    const bool report = m.applyRule(c, blockOf(m, 0, 0, 0));
    EXPECT_EQ(c->nextOutputs, 59);
    EXPECT_EQ(report, ownBit0 == 0);
  }
  {
    Model m;
    UniverseCell* c = m.placePart(0, 0, 0, naive::Conductor, 0, 1, 1);
    c->nextOutputs = 17;
    EXPECT_TRUE(m.applyRule(c, blockOf(m, 0, 0, 0)));  // bit 0: outputs 1, next 0
    EXPECT_EQ(c->nextOutputs, 0);
  }
  // A NOR gate: every face but the front is an input.
  for (int d = 0; d < 6; ++d) {
    Model m;
    // neighbour at step(d) driving toward the gate
    m.placePart(naive::kDx[d], naive::kDy[d], naive::kDz[d], 11, 0, 1,
                static_cast<uint8_t>(1 << naive::kOpposite[d]));
    UniverseCell* g = m.placePart(0, 0, 0, naive::NorGate, 0, 1);
    const bool report = m.applyRule(g, blockOf(m, 0, 0, 0));
    EXPECT_EQ(g->nextOutputs, d == 0 ? 1 : 0) << d;  // front face: no effect
    EXPECT_EQ(report, d == 0) << d;
  }
  // A neighbour that drives away from the gate is no input.
  Model m;
  m.placePart(0, -1, 0, 11, 0, 1, 0x3F & ~1);
  UniverseCell* g = m.placePart(0, 0, 0, naive::NorGate, 0, 1);
  m.applyRule(g, blockOf(m, 0, 0, 0));
  EXPECT_EQ(g->nextOutputs, 1);
  // A Source drives its front without reporting; an actuator loses its
  // stored outputs at its first commit.
  UniverseCell* s = m.placePart(4, 0, 0, naive::Source, 1, 0);
  EXPECT_FALSE(m.applyRule(s, blockOf(m, 4, 0, 0)));
  EXPECT_EQ(s->nextOutputs, 1 << 1);
  m.placePart(8, 0, 0, naive::Pusher, 0, 1, 0x3F);
  m.step();
  EXPECT_EQ(m.peekCell(8, 0, 0)->outputs, 0);
}

TEST(NaiveRules, ABondMadeInPhaseOneIsSeenByALaterMoveRequest) {
  // The Binder (slot 0 of block (0,0,0)) bonds (0,1,0) to (1,1,0); the Drive
  // at (-1,1,0) (block (-1,0,0), created later) then moves (0,1,0) +y
  // together with (1,1,0).
  Model m;
  m.placePart(0, -1, 0, naive::Source, 0, 1, 1);
  m.placePart(0, 0, 0, naive::Binder, 0, 1);
  m.placePart(0, 1, 0, 11);
  m.placePart(1, 1, 0, 12);
  m.placePart(-1, 1, 0, naive::Drive, 1, 0);
  m.step();
  EXPECT_EQ(typeAt(m, 0, 2, 0), 11);
  EXPECT_EQ(typeAt(m, 1, 2, 0), 12);
}

TEST(NaiveRules, SeveralRotatorsGiveOneTurnAboutTheAxisWrittenLast) {
  Model m;
  // Two rotators aim at (0,0,0): one from -y facing +y (axis +y) and one
  // from -x facing +x (axis +x), each in its own block.
  m.placePart(0, -2, 0, naive::Source, 0, 1, 1);
  m.placePart(0, -1, 0, naive::Rotator, 0, 1);  // block (0,-1,0)
  m.placePart(-2, 0, 0, naive::Source, 1, 0, 1 << 1);
  m.placePart(-1, 0, 0, naive::Rotator, 1, 0);  // block (-1,0,0)
  UniverseCell* t = m.placePart(0, 0, 0, 11, 0, 1);
  // Order of phase 1: the current list holds the blocks in creation order:
  // (0,-1,0) [source], then (-1,0,0), then (0,0,0).  So the +x rotator
  // writes last: one turn about +x.
  m.step();
  EXPECT_EQ(t->front, naive::kQuarterTurn[1][0]);
  EXPECT_EQ(t->side, naive::kQuarterTurn[1][1]);
  EXPECT_EQ(t->up, naive::kQuarterTurn[1][4]);
}

namespace {
struct Vec {
  int x, y, z;
};
Vec vecOf(int d) { return {naive::kDx[d], naive::kDy[d], naive::kDz[d]}; }
int dirOf(Vec v) {
  for (int d = 0; d < 6; ++d)
    if (naive::kDx[d] == v.x && naive::kDy[d] == v.y && naive::kDz[d] == v.z) return d;
  return -1;
}
Vec cross(Vec a, Vec b) {
  return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x};
}
}  // namespace

TEST(NaiveRules, QuarterTurnIsTheRightHandedRotationOfFrameAndPendingOutputs) {
  // R_k(d) = rotation of step(d) by +90 degrees about step(k):
  // v' = (k.v)k + k x v for a unit axis k.
  for (int k = 0; k < 6; ++k)
    for (int d = 0; d < 6; ++d) {
      const Vec a = vecOf(k), v = vecOf(d);
      const int dot = a.x * v.x + a.y * v.y + a.z * v.z;
      const Vec c = cross(a, v);
      const Vec r = {dot * a.x + c.x, dot * a.y + c.y, dot * a.z + c.z};
      EXPECT_EQ(naive::kQuarterTurn[k][d], dirOf(r)) << "k " << k << " d " << d;
    }
  // The 24 valid frames: up = side x front, equal to the up rule; a turn
  // maps front, side and up by the (checked) table and gives a valid frame.
  int frames = 0;
  for (int f = 0; f < 6; ++f)
    for (int s = 0; s < 6; ++s) {
      if (s == f || s == naive::kOpposite[f]) continue;
      ++frames;
      const int u = dirOf(cross(vecOf(s), vecOf(f)));
      EXPECT_EQ(naive::upRule(f, s), u) << "front " << f << " side " << s;
      for (int k = 0; k < 6; ++k) {
        UniverseCell c;
        c.front = f;
        c.side = s;
        c.up = u;
        Model::applyQuarterTurn(&c, k);
        EXPECT_EQ(c.front, naive::kQuarterTurn[k][f]) << f << s << k;
        EXPECT_EQ(c.side, naive::kQuarterTurn[k][s]) << f << s << k;
        EXPECT_EQ(c.up, naive::kQuarterTurn[k][u]) << f << s << k;
        EXPECT_EQ(c.up, dirOf(cross(vecOf(c.side), vecOf(c.front))));
      }
    }
  EXPECT_EQ(frames, 24);
  // Frames that are not perpendicular fall to the later rules.
  EXPECT_EQ(naive::upRule(4, 5), 2);  // rule 2
  EXPECT_EQ(naive::upRule(0, 0), 5);  // rule 5
  // Pending outputs turn with the frame and lose bits 6 and 7; outputs and
  // bonds stay attached to lattice faces.
  UniverseCell c;
  c.nextOutputs = 0xFF;
  c.outputs = 0x05;
  c.bonds = 0x21;
  Model::applyQuarterTurn(&c, 0);
  EXPECT_EQ(c.nextOutputs, 0x3F);
  EXPECT_EQ(c.outputs, 0x05);
  EXPECT_EQ(c.bonds, 0x21);
  c.nextOutputs = 1 << 1;  // +x about +y -> -z
  Model::applyQuarterTurn(&c, 0);
  EXPECT_EQ(c.nextOutputs, 1 << 5);
}

// front/side/up outside 0..5 are kept; a rule that needs an invalid field
// does nothing and reports false; a turn leaves such a field unchanged; an
// invalid axis turns nothing.
TEST(NaiveRules, InvalidDirectionsActThroughNothing) {
  struct Case {
    const char* what;
    int type, front, side;
    bool fed;         // a Source behind drives (0,0,0) along +y
    uint8_t pending;  // nextOutputs before the rule
  };
  const Case cases[] = {
      {"conductor, front 7", naive::Conductor, 7, 1, true, 9},
      {"source, front -1", naive::Source, -1, 1, false, 0},
      {"drive, valid front, side 9", naive::Drive, 0, 9, false, 0},
      {"NOR gate, front 4 side -3: up (-3+1)%4 = -2", naive::NorGate, 4, -3, false, 0},
  };
  for (const Case& k : cases) {
    Model m;
    if (k.fed) m.placePart(0, -1, 0, naive::Source, 0, 1, 1);
    UniverseCell* c = m.placePart(0, 0, 0, k.type, k.front, k.side);
    m.placePart(0, 1, 0, 11);  // a target in front
    c->nextOutputs = k.pending;
    EXPECT_FALSE(m.applyRule(c, blockOf(m, 0, 0, 0))) << k.what;
    EXPECT_EQ(c->nextOutputs, k.pending) << k.what;
    EXPECT_TRUE(m.moveRequests.empty()) << k.what;
  }
  EXPECT_EQ(naive::upRule(4, -3), -2);
  {
    // Pusher needs only front: an invalid side does not matter.
    Model m;
    m.placePart(0, -1, 0, naive::Source, 0, 1, 1);
    m.placePart(0, 0, 0, naive::Pusher, 0, 8);
    m.placePart(0, 1, 0, 11);
    m.step();
    EXPECT_EQ(typeAt(m, 0, 2, 0), 11);
    EXPECT_EQ(m.peekCell(0, 0, 0)->side, 8);
  }
  UniverseCell c;
  c.front = 7;
  c.side = 1;
  c.up = naive::upRule(7, 1);
  const int up = c.up;
  Model::applyQuarterTurn(&c, 4);
  EXPECT_EQ(c.front, 7);
  EXPECT_EQ(c.side, 0);
  EXPECT_EQ(c.up, naive::isValidDirection(up) ? naive::kQuarterTurn[4][up] : up);
  c.nextOutputs = 3;
  Model::applyQuarterTurn(&c, 6);
  EXPECT_EQ(c.front, 7);
  EXPECT_EQ(c.side, 0);
  EXPECT_EQ(c.nextOutputs, 3);
}

// ---- Grid reader corners the engine tests do not reach ---------------------

TEST(NaiveGrid, NonZeroValuesCountAndBondsWithoutAPartnerAreCleared) {
  // Three parts in a row along x at y=0, z=0:
  //  (0): bond +x, partner (1) bonds back (-x): kept
  //  (1): bond -x (kept), bond +x toward (2) which is not bonded back: cleared
  //  (2): bond +y toward an empty cell: cleared; bond +z toward a missing block: cleared
  // Then, at (0,1,0)..(0,1,1): output values -5 and 7 count as set, bond
  // values -1 and 32 as bonds; nextOutputs start at 0.
  Model m;
  std::string text = "0 0 0 3 1 1\n";
  text += entry(11, 0, 1, 0, 1 << 1);
  text += entry(11, 0, 1, 0, (1 << 3) | (1 << 1));
  text += entry(11, 0, 1, 0, (1 << 0) | (1 << 4));
  text += "0 1 0 1 1 2\n";
  text += "11 0 1  -5 0 7 0 0 0  0 0 0 0 -1 0\n";  // (0,1,0): bond +z (value -1)
  text += "11 0 1  0 0 0 0 0 0  0 0 0 0 0 32\n";   // (0,1,1): bond -z (value 32)
  m.readGridText(text);
  EXPECT_EQ(m.peekCell(0, 0, 0)->bonds, 1 << 1);
  EXPECT_EQ(m.peekCell(1, 0, 0)->bonds, 1 << 3);
  EXPECT_EQ(m.peekCell(2, 0, 0)->bonds, 0);
  EXPECT_EQ(m.peekCell(0, 1, 0)->outputs, (1 << 0) | (1 << 2));
  EXPECT_EQ(m.peekCell(0, 1, 0)->nextOutputs, 0);
  EXPECT_EQ(m.peekCell(0, 1, 0)->bonds, 1 << 4);
  EXPECT_EQ(m.peekCell(0, 1, 1)->bonds, 1 << 5);
}

TEST(NaiveGrid, RecordWithAnotherWordIsSkippedWhenNoBoxPrecedesIt) {
  // After a region start "record foo" is skipped; "7" then starts a plain box.
  Model m;
  m.readGridText("5 0 0 1 1 1 " + entry(11, 0, 1) + "record identifier r record foo 7 0 0 1 1 1 " +
                 entry(13, 0, 1));
  EXPECT_EQ(typeAt(m, 5, 0, 0), 11);
  EXPECT_EQ(typeAt(m, 7, 0, 0), 13);
  EXPECT_EQ(m.peekCell(7, 0, 0)->region->path, "r");
  // "record foo" at the very start (no box read yet) is skipped too
  Model n;
  n.readGridText("record foo 3 0 0 1 1 1 " + entry(11, 0, 1));
  EXPECT_EQ(typeAt(n, 3, 0, 0), 11);
}

TEST(NaiveGrid, WordsLeadingIntegersAndTheLengthLimit) {
  EXPECT_EQ(naive::leadingInteger("12abc"), 12);
  EXPECT_EQ(naive::leadingInteger("-7"), -7);
  EXPECT_EQ(naive::leadingInteger("+7x"), 7);
  EXPECT_EQ(naive::leadingInteger("abc"), 0);
  EXPECT_EQ(naive::leadingInteger("-"), 0);
  EXPECT_EQ(naive::leadingInteger("99999999999"), 2147483647);
  EXPECT_EQ(naive::leadingInteger("-99999999999"), -2147483647 - 1);
  // A word of 127 characters is read; one of 128 ends the load.
  Model m;
  m.readGridText("record identifier " + std::string(127, 'a') + " 0 0 0 1 1 1 " +
                 entry(11, 0, 1) + "record identifier " + std::string(128, 'b') +
                 " 1 0 0 1 1 1 " + entry(12, 0, 1));
  EXPECT_EQ(typeAt(m, 0, 0, 0), 11);
  EXPECT_EQ(m.peekCell(0, 0, 0)->region->path, std::string(127, 'a'));
  EXPECT_EQ(typeAt(m, 1, 0, 0), 0);
  EXPECT_EQ(m.regionEntries.size(), 1u);
}

// After the boxes, complete or not, the reader clears one-sided bonds,
// relinks every block and leaves every block enlisted for the first
// generation.
TEST(NaiveGrid, EveryLoadEndsWithBondChecksRelinkingAndEnlisting) {
  Model m;
  std::string text = "0 0 0 3 1 1\n";
  text += entry(11, 0, 1, 0, 1 << 1);  // bonded to the next cell, which never arrives
  text += "12 0 1 0 0 0 0 0 0 0 0 0 1";  // 13 of 15 values
  m.readGridText(text + "\n");
  ASSERT_EQ(typeAt(m, 1, 0, 0), 0);
  EXPECT_EQ(m.peekCell(0, 0, 0)->bonds, 0);  // checkBonds ran
  Model n;
  n.readGridText("0 0 0 2 1 1\n" + entry(11, 0, 1) + "12 x 1 0 0 0 0 0 0 0 0 0 0 0 0\n");
  EXPECT_EQ(n.peekCell(0, 0, 0)->links[1], n.peekCell(1, 0, 0));  // relinked
  Model l;
  l.readGridText("0 0 0 4 1 1\n" + entry(11, 0, 1) + entry(0, 0, 1) + entry(0, 0, 1) +
                 entry(12, 0, 1));
  EXPECT_EQ(l.currentList->size(), 2u);
  EXPECT_EQ(l.nextList->size(), 2u);
  EXPECT_EQ(l.commitList.size(), 2u);
  EXPECT_EQ(l.moveList.size(), 2u);
  l.step();
  EXPECT_EQ(l.activeBlockCount, 2);
  EXPECT_EQ(betweenGenerations(l), "");
}

// ---- Random universes: the oracle's own state, and the generator -----------

TEST(NaiveProperties, RandomUniversesKeepTheBetweenGenerationState) {
  for (uint64_t seed = 1; seed <= 40; ++seed) {
    Model m;
    m.readGridText(random_universe::generate(seed));
    ASSERT_EQ(m.checkInvariants(), "") << "seed " << seed;
    random_universe::Rng rng(seed);
    for (int g = 0; g < 30; ++g) {
      if (rng.chance(0.2)) m.inputPulse = 1;
      m.step();
      ASSERT_EQ(betweenGenerations(m), "") << "seed " << seed << " generation " << m.generation;
    }
  }
}

TEST(NaiveProperties, GeneratorIsDeterministicAndVaried) {
  EXPECT_EQ(random_universe::generate(42), random_universe::generate(42));
  EXPECT_NE(random_universe::generate(42), random_universe::generate(43));
  int withConflicts = 0, withRegions = 0;
  for (uint64_t seed = 1; seed <= 100; ++seed) {
    Model m;
    m.readGridText(random_universe::generate(seed));
    withConflicts += !m.conflictMessages.empty();
    withRegions += !m.regionEntries.empty();
  }
  EXPECT_GT(withConflicts, 5);
  EXPECT_GT(withRegions, 30);
  // Hash-twin regions put many blocks into shared buckets.
  random_universe::Params params;
  params.hashTwinChance = 1;
  params.maxEdge = 8;
  Model m;
  m.readGridText(random_universe::generate(3, params));
  size_t shared = 0, blocks = 0;
  for (int i = 0; i < naive::kBucketCount; ++i) {
    size_t chain = 0;
    for (naive::ChainNode* node = m.buckets[i]; node != nullptr; node = node->next) ++chain;
    blocks += chain;
    if (chain >= 2) shared += chain;
  }
  EXPECT_GT(blocks, 10u);
  EXPECT_GT(shared, blocks / 2);
}

}  // namespace
