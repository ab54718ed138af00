// naive_model_test.cpp - validates the naive reference model (the oracle)
// against hand-worked edge cases of the data model, the generation update,
// the rules and the quarter turn, the grid file and regions, and against the
// chosen behaviour in the corner cases (invalid directions, malformed grid
// files, far coordinates).
#include <gtest/gtest.h>

#include <cmath>
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

// ===========================================================================
// Data model
// ===========================================================================

TEST(NaiveDataModel, BlockCoordinatesAndSlots) {
  int32_t bx, by, bz;
  Model::blockCoordinates(-1, -1, -1, bx, by, bz);
  EXPECT_EQ(bx, -1);
  EXPECT_EQ(by, -1);
  EXPECT_EQ(bz, -1);
  EXPECT_EQ(Model::slotOf(-1, -1, -1), 11);
  Model::blockCoordinates(0, 0, 0, bx, by, bz);
  EXPECT_EQ(bx, 0);
  EXPECT_EQ(by, 0);
  EXPECT_EQ(bz, 0);
  EXPECT_EQ(Model::slotOf(0, 0, 0), 0);
  EXPECT_EQ(Model::slotOf(1, 1, 2), 11);
  Model::blockCoordinates(1, 1, 2, bx, by, bz);
  EXPECT_EQ(bx, 0);
  EXPECT_EQ(bz, 0);
  Model::blockCoordinates(2, 0, 0, bx, by, bz);
  EXPECT_EQ(bx, 1);
  EXPECT_EQ(by, 0);
  EXPECT_EQ(bz, 0);
  Model::blockCoordinates(-3, -4, -4, bx, by, bz);
  EXPECT_EQ(bx, -2);
  EXPECT_EQ(by, -2);
  EXPECT_EQ(bz, -2);

  Model m;
  UniverseCell* c = m.placePart(-1, -1, -1, naive::Conductor);
  UniverseBlock* b = blockOf(m, -1, -1, -1);
  ASSERT_NE(b, nullptr);
  EXPECT_EQ(b->originX, -2);
  EXPECT_EQ(b->originY, -2);
  EXPECT_EQ(b->originZ, -3);
  EXPECT_EQ(b->cells[11], c);
  EXPECT_EQ(b->universe, &m);
  for (int s = 0; s < 12; ++s) {
    EXPECT_EQ(b->cells[s]->x, -2 + s / 6);
    EXPECT_EQ(b->cells[s]->y, -2 + (s / 3) % 2);
    EXPECT_EQ(b->cells[s]->z, -3 + s % 3);
  }
  m.placePart(0, 0, 0, naive::Conductor);
  m.placePart(1, 1, 2, naive::NorGate);
  m.placePart(2, 0, 0, naive::Source);
  EXPECT_EQ(blockOf(m, 0, 0, 0)->cells[0]->partType, naive::Conductor);
  EXPECT_EQ(blockOf(m, 0, 0, 0)->cells[11]->partType, naive::NorGate);
  EXPECT_EQ(blockOf(m, 2, 0, 0)->originX, 2);
  EXPECT_EQ(blockOf(m, 2, 0, 0)->cells[0]->partType, naive::Source);
  EXPECT_EQ(m.blockCount(), 3u);
  EXPECT_EQ(m.checkInvariants(), "");
}

TEST(NaiveDataModel, NewCellAndNewBlockDefaults) {
  Model m;
  EXPECT_EQ(m.inputPulse, 0);
  EXPECT_EQ(m.generation, 0u);
  EXPECT_EQ(m.activeBlockCount, 0);
  EXPECT_EQ(m.currentList, &m.blockLists[0]);
  EXPECT_EQ(m.nextList, &m.blockLists[1]);
  UniverseCell* c = m.cellForUpdate(4, 5, 6);
  EXPECT_EQ(c->front, 0);
  EXPECT_EQ(c->side, 1);
  EXPECT_EQ(c->up, 4);
  EXPECT_EQ(c->partType, 0);
  EXPECT_EQ(c->incomingType, 0);
  EXPECT_EQ(c->incomingFront, 0);
  EXPECT_EQ(c->incomingSide, 1);
  EXPECT_EQ(c->incomingUp, 4);
  for (int d = 0; d < 6; ++d) EXPECT_EQ(c->links[d], nullptr);  // new cells are not linked
  UniverseBlock* b = blockOf(m, 4, 5, 6);
  // created: next (1), current (8), commit (2), move (4), in that order
  EXPECT_EQ(b->listFlags, 15u);
  EXPECT_EQ(m.currentList->size(), 1u);
  EXPECT_EQ(m.nextList->size(), 1u);
  EXPECT_EQ(m.commitList.size(), 1u);
  EXPECT_EQ(m.moveList.size(), 1u);
}

TEST(NaiveDataModel, CollidingKeysShareABucketAndAreBothFound) {
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
  EXPECT_EQ(typeAt(m, -60, 0, 6), 11);
  EXPECT_EQ(typeAt(m, -58, 1, -90), 12);
  // Written in bucket order, then chain order.
  const std::string text = m.writeBlocksString();
  EXPECT_EQ(text.find("-60 0 6\n"), 0u);
  EXPECT_NE(text.find("-58 0 -90\n"), std::string::npos);
  // Hash keys wrap in unsigned arithmetic for negative values.
  EXPECT_EQ(Model::bucketOf(-31, -31, -31),
            ((0xFFFFFFFFu << 10) ^ (0xFFFFFFFFu << 5) ^ 0xFFFFFFFFu) % 99991u);
}

TEST(NaiveDataModel, PlacingTwoPartsAtOnePositionReportsOnce) {
  Model m;
  m.placePart(-1, 3, 5, naive::Pusher);
  EXPECT_TRUE(m.conflictMessages.empty());
  m.placePart(-1, 3, 5, naive::Shifter);
  ASSERT_EQ(m.conflictMessages.size(), 1u);
  // origin of block (-1, 1, 1) is (-2, 2, 3); slot xi 1, yi 1, zi 2
  EXPECT_EQ(m.conflictMessages[0],
            "Error: UniverseCell at -2 2 3, block 1 1 2 contains part type 3, replacing with "
            "type 4. Regions: ? ?");
  EXPECT_EQ(typeAt(m, -1, 3, 5), naive::Shifter);
  EXPECT_EQ(m.checkInvariants(), "");
}

TEST(NaiveDataModel, PlacingOverEmptyIsSilentButTypeZeroOverAPartIsNot) {
  Model m;
  m.cellForUpdate(0, 0, 0);  // an existing, empty cell
  m.placePart(0, 0, 0, naive::Binder);
  EXPECT_TRUE(m.conflictMessages.empty());
  m.placePart(0, 0, 0, 0);
  ASSERT_EQ(m.conflictMessages.size(), 1u);
  EXPECT_EQ(m.conflictMessages[0],
            "Error: UniverseCell at 0 0 0, block 0 0 0 contains part type 6, replacing with "
            "type 0. Regions: ? ?");
  EXPECT_EQ(typeAt(m, 0, 0, 0), 0);
  m.placePart(0, 0, 0, 7);  // over the type-0 cell: silent again
  EXPECT_EQ(m.conflictMessages.size(), 1u);
}

TEST(NaiveDataModel, PlaceCellRelinksNeighboursAndWakesOntoCurrentList) {
  Model m;
  UniverseCell* a = m.placePart(0, 0, 0, naive::Conductor);
  UniverseCell* b = m.placePart(0, 1, 0, naive::Conductor);
  EXPECT_EQ(a->links[0], b);
  EXPECT_EQ(b->links[2], a);
  UniverseCell* c = m.placePart(0, 1, 0, naive::NorGate);  // replaces b
  EXPECT_EQ(a->links[0], c);
  EXPECT_EQ(c->links[2], a);
  // a neighbour block that exists is woken onto the current list
  steps(m, 3);
  EXPECT_TRUE(m.currentList->empty());
  m.placePart(2, 0, 0, 11);  // block (1,0,0); its -x neighbour (0,0,0) exists
  EXPECT_TRUE(Model::onList(*m.currentList, blockOf(m, 0, 0, 0)));
  EXPECT_TRUE(Model::onList(*m.currentList, blockOf(m, 2, 0, 0)));
  EXPECT_EQ(m.checkInvariants(), "");
}

TEST(NaiveDataModel, TestOutputOfAnUntouchedPositionCreatesNothing) {
  Model m;
  EXPECT_FALSE(m.testOutput(10, 20, 30, 0));
  EXPECT_EQ(m.blockCount(), 0u);
  EXPECT_EQ(m.findCell(10, 20, 30), nullptr);
  EXPECT_EQ(m.blockCount(), 0u);
  EXPECT_TRUE(m.currentList->empty());
}

TEST(NaiveDataModel, InjectedSignalIsSeenInThatGenerationOnly) {
  Model m;
  // Conductor at (0,1,0) facing +y; the injecting cell (0,0,0) is in the
  // same block, so it is linked.
  m.placePart(0, 1, 0, naive::Conductor, 0, 1);
  steps(m, 3);
  ASSERT_TRUE(m.currentList->empty());
  m.injectSignal(0, 1, 0, 2);  // (0,1,0) + step(-y) = (0,0,0) drives +y
  EXPECT_TRUE(m.testOutput(0, 0, 0, 0));
  EXPECT_TRUE(Model::onList(*m.currentList, blockOf(m, 0, 0, 0)));
  EXPECT_TRUE(Model::onList(m.commitList, blockOf(m, 0, 0, 0)));
  m.step();
  EXPECT_TRUE(m.testOutput(0, 1, 0, 0));   // the conductor saw it
  EXPECT_FALSE(m.testOutput(0, 0, 0, 0));  // replaced by nextOutputs at the commit
  EXPECT_EQ(m.peekCell(0, 1, 0)->outputs, 59);
  m.step();
  EXPECT_FALSE(m.testOutput(0, 1, 0, 0));
  EXPECT_EQ(betweenGenerations(m), "");
}

TEST(NaiveDataModel, FileBondsWithoutPartnerAreCleared) {
  Model m;
  // Three parts in a row along x at y=0, z=0:
  //  (0): bond +x, partner (1) bonds back (-x): kept
  //  (1): bond -x (kept), bond +x toward (2) which is not bonded back: cleared
  //  (2): bond +y toward an empty cell: cleared; bond +z toward a missing block: cleared
  std::string text = "0 0 0 3 1 1\n";
  text += entry(11, 0, 1, 0, 1 << 1);
  text += entry(11, 0, 1, 0, (1 << 3) | (1 << 1));
  text += entry(11, 0, 1, 0, (1 << 0) | (1 << 4));
  m.readGridText(text);
  EXPECT_EQ(m.peekCell(0, 0, 0)->bonds, 1 << 1);
  EXPECT_EQ(m.peekCell(1, 0, 0)->bonds, 1 << 3);
  EXPECT_EQ(m.peekCell(2, 0, 0)->bonds, 0);
}

TEST(NaiveDataModel, CellsOfABlockCreatedDuringARunAreNotLinked) {
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
  // A part placed into the new block's cell is linked both ways.
  UniverseCell* q = m.placePart(0, -1, 0, 11);
  EXPECT_EQ(p->links[2], q);
  EXPECT_EQ(q->links[0], p);
  steps(m, 3);
  m.injectSignal(0, 0, 0, 2);
  m.step();
  EXPECT_TRUE(m.testOutput(0, 0, 0, 0));
  EXPECT_EQ(m.checkInvariants(), "");
}

TEST(NaiveDataModel, PartMovedIntoANewBlockIsLinkedBothWays) {
  Model m;
  // Source (stored output +y) -> Pusher facing +y -> part at (0,1,0); the
  // part is pushed to (0,2,0), whose block (0,1,0) is created by the move.
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

TEST(NaiveDataModel, CentroidAndMarker) {
  Model m;
  EXPECT_EQ(m.findMarker(), (naive::Position{0, 0, 0}));
  EXPECT_EQ(m.centroid().count, 0);
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
  const naive::Centroid c = m.centroid();
  EXPECT_EQ(c.count, 6);
  EXPECT_DOUBLE_EQ(c.x, (0 + 5 + 2 + 7 + 9 + 9) / 6.0);
  EXPECT_DOUBLE_EQ(c.y, (0 + 0 - 1 - 1 - 5 - 5) / 6.0);
  EXPECT_DOUBLE_EQ(c.z, (0 + 3 + 3 + 3 + 8 + 9) / 6.0);
}

// ===========================================================================
// Generation update
// ===========================================================================

TEST(NaiveGeneration, EmptyUniverseStillCountsGenerations) {
  Model m;
  steps(m, 5);
  EXPECT_EQ(m.generation, 5u);
  EXPECT_EQ(m.activeBlockCount, 0);
  EXPECT_EQ(m.blockCount(), 0u);
  // A universe whose blocks have all gone quiet.
  m.placePart(3, 3, 3, 11);
  steps(m, 3);
  EXPECT_EQ(m.activeBlockCount, 0);
  EXPECT_EQ(m.generation, 8u);
}

TEST(NaiveGeneration, GenerationCounterWrapsUnsigned) {
  Model m;
  m.generation = 0xFFFFFFFFu;
  m.step();
  EXPECT_EQ(m.generation, 0u);  // 0 is a multiple of 10000: the clean-up ran (harmless)
}

TEST(NaiveGeneration, ConductorRowPassesASignalOneCellPerGeneration) {
  Model m;
  m.placePart(1, -1, 0, 11);  // makes block (0,-1,0) exist, so (0,-1,0) gets linked
  m.placePart(0, 0, 0, naive::Conductor, 0, 1);
  m.placePart(0, 1, 0, naive::Conductor, 0, 1);
  m.placePart(0, 2, 0, naive::Conductor, 0, 1);  // next block along y
  steps(m, 3);
  ASSERT_TRUE(m.currentList->empty());
  m.injectSignal(0, 0, 0, 2);  // a signal arrives at the first from -y
  m.step();                     // generation g
  EXPECT_TRUE(m.testOutput(0, 0, 0, 0));
  EXPECT_FALSE(m.testOutput(0, 1, 0, 0));
  EXPECT_FALSE(m.testOutput(0, 2, 0, 0));
  EXPECT_TRUE(Model::onList(*m.currentList, blockOf(m, 0, 1, 0)));  // the second's block
  m.step();  // g + 1
  EXPECT_FALSE(m.testOutput(0, 0, 0, 0));
  EXPECT_TRUE(m.testOutput(0, 1, 0, 0));
  EXPECT_FALSE(m.testOutput(0, 2, 0, 0));
  EXPECT_TRUE(Model::onList(*m.currentList, blockOf(m, 0, 2, 0)));  // the third's block
  m.step();  // g + 2
  EXPECT_FALSE(m.testOutput(0, 1, 0, 0));
  EXPECT_TRUE(m.testOutput(0, 2, 0, 0));
  EXPECT_EQ(m.peekCell(0, 2, 0)->outputs, 59);
  EXPECT_EQ(betweenGenerations(m), "");
}

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

TEST(NaiveGeneration, IdleBlockDropsOffAfterOneGeneration) {
  Model m;
  m.placePart(0, 0, 0, 11);
  UniverseBlock* b = blockOf(m, 0, 0, 0);
  m.step();  // placement's own lookups enlisted it for the next generation too
  EXPECT_EQ(m.activeBlockCount, 1);
  EXPECT_TRUE(Model::onList(*m.currentList, b));
  m.step();
  EXPECT_EQ(m.activeBlockCount, 1);
  EXPECT_TRUE(m.currentList->empty());
  EXPECT_EQ(b->listFlags, 0u);
  m.step();
  EXPECT_EQ(m.activeBlockCount, 0);
}

TEST(NaiveGeneration, PusherMovesARowOfThreeParts) {
  Model m;
  m.placePart(0, -1, 0, naive::Source, 0, 1, 1);  // drives the pusher from behind
  m.placePart(0, 0, 0, naive::Pusher, 0, 1);
  m.placePart(0, 1, 0, 11, 0, 1);
  m.placePart(0, 2, 0, 12, 1, 0);
  m.placePart(0, 3, 0, 13, 4, 0);
  m.step();
  EXPECT_EQ(typeAt(m, 0, 0, 0), naive::Pusher);
  EXPECT_EQ(typeAt(m, 0, 1, 0), 0);
  EXPECT_EQ(typeAt(m, 0, 2, 0), 11);
  EXPECT_EQ(typeAt(m, 0, 3, 0), 12);
  EXPECT_EQ(typeAt(m, 0, 4, 0), 13);
  EXPECT_EQ(m.peekCell(0, 4, 0)->front, 4);
  EXPECT_EQ(m.peekCell(0, 4, 0)->up, naive::upRule(4, 0));
  EXPECT_EQ(m.lastMoveTarget, (naive::Position{0, 1, 0}));
  // The emptied cell keeps its (never set) incoming orientation: front 0, side 1.
  EXPECT_EQ(m.peekCell(0, 1, 0)->front, 0);
  EXPECT_EQ(m.peekCell(0, 1, 0)->side, 1);
  EXPECT_EQ(m.peekCell(0, 1, 0)->up, 4);
  m.step();  // the target is empty now: nothing moves
  EXPECT_EQ(typeAt(m, 0, 2, 0), 11);
  EXPECT_EQ(typeAt(m, 0, 4, 0), 13);
  EXPECT_EQ(partCount(m), 5);
  EXPECT_EQ(betweenGenerations(m), "");
}

TEST(NaiveGeneration, MoversInDifferentDirectionsBlockEachOther) {
  Model m;
  m.placePart(0, -2, 0, naive::Source, 0, 1, 1);
  m.placePart(0, -1, 0, naive::Pusher, 0, 1);  // pushes +y
  m.placePart(-2, 0, 0, naive::Source, 1, 0, 1 << 1);
  m.placePart(-1, 0, 0, naive::Pusher, 1, 0);  // pushes +x
  m.placePart(0, 0, 0, 11);
  for (int g = 0; g < 3; ++g) {
    m.step();
    EXPECT_EQ(typeAt(m, 0, 0, 0), 11);
    EXPECT_EQ(typeAt(m, 0, 1, 0), 0);
    EXPECT_EQ(typeAt(m, 1, 0, 0), 0);
  }
  EXPECT_EQ(betweenGenerations(m), "");
}

TEST(NaiveGeneration, MoversInTheSameDirectionMoveThePartOnce) {
  Model m;
  m.placePart(0, -2, 0, naive::Source, 0, 1, 1);
  m.placePart(0, -1, 0, naive::Pusher, 0, 1);  // pushes +y
  m.placePart(-2, 0, 0, naive::Source, 1, 0, 1 << 1);
  m.placePart(-1, 0, 0, naive::Shifter, 1, 0);  // target (0,0,0), moves it along side +y
  m.placePart(0, 0, 0, 11);
  m.step();
  EXPECT_EQ(typeAt(m, 0, 0, 0), 0);
  EXPECT_EQ(typeAt(m, 0, 1, 0), 11);
  EXPECT_EQ(typeAt(m, 0, 2, 0), 0);
  EXPECT_EQ(partCount(m), 5);
}

TEST(NaiveGeneration, MovedPartKeepsNextOutputsBondsAndRegion) {
  Model m;
  naive::RegionEntry* region = m.openRegion("cpu", nullptr);
  m.placePart(0, -1, 0, naive::Source, 0, 1, 1);
  m.placePart(0, 0, 0, naive::Pusher, 0, 1);
  UniverseCell* t = m.placePart(0, 1, 0, 11, 0, 1, 0, 1 << 1, region);  // bonded +x
  m.placePart(1, 1, 0, 12, 0, 1, 0, 1 << 3);                            // bonded -x
  t->nextOutputs = 32;  // type 11 has no rule: it keeps this
  m.step();
  UniverseCell* moved = m.peekCell(0, 2, 0);
  EXPECT_EQ(moved->partType, 11);
  EXPECT_EQ(moved->outputs, 32);
  EXPECT_EQ(moved->nextOutputs, 32);
  EXPECT_EQ(moved->bonds, 1 << 1);
  EXPECT_EQ(moved->region, region);
  EXPECT_EQ(typeAt(m, 1, 2, 0), 12);
  EXPECT_EQ(m.peekCell(1, 2, 0)->bonds, 1 << 3);
  for (int x = 0; x <= 1; ++x) {
    const UniverseCell* old = m.peekCell(x, 1, 0);
    EXPECT_EQ(old->partType, 0);
    EXPECT_EQ(old->bonds, 0);
    EXPECT_EQ(old->region, nullptr);
    EXPECT_EQ(old->outputs, 0);
  }
  EXPECT_EQ(betweenGenerations(m), "");
}

TEST(NaiveGeneration, BondedGroupIsPushedAsAWhole) {
  Model m;
  m.placePart(0, -1, 0, naive::Source, 0, 1, 1);
  m.placePart(0, 0, 0, naive::Pusher, 0, 1);
  // target (0,1,0) bonded to (0,1,1) above it, which is bonded to (-1,1,1)
  m.placePart(0, 1, 0, 11, 0, 1, 0, 1 << 4);
  m.placePart(0, 1, 1, 12, 0, 1, 0, (1 << 5) | (1 << 3));
  m.placePart(-1, 1, 1, 13, 0, 1, 0, 1 << 1);
  m.placePart(-1, 2, 1, 14);  // in the way of (-1,1,1): pushed along
  m.step();
  EXPECT_EQ(typeAt(m, 0, 2, 0), 11);
  EXPECT_EQ(typeAt(m, 0, 2, 1), 12);
  EXPECT_EQ(typeAt(m, -1, 2, 1), 13);
  EXPECT_EQ(typeAt(m, -1, 3, 1), 14);
  EXPECT_EQ(typeAt(m, 0, 1, 0), 0);
  EXPECT_EQ(typeAt(m, 0, 1, 1), 0);
  EXPECT_EQ(typeAt(m, -1, 1, 1), 0);
  EXPECT_EQ(m.peekCell(0, 2, 1)->bonds, (1 << 5) | (1 << 3));
  EXPECT_EQ(partCount(m), 6);
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
}

// ===========================================================================
// Rules and the quarter turn
// ===========================================================================

TEST(NaiveRules, ConductorWithADrivingConductorBehind) {
  for (int ownBit0 = 0; ownBit0 <= 1; ++ownBit0) {
    Model m;
    m.placePart(0, -1, 0, naive::Conductor, 0, 1, 59);
    UniverseCell* c = m.placePart(0, 0, 0, naive::Conductor, 0, 1, ownBit0 ? 1 : 0);
    const bool report = m.applyRule(c, blockOf(m, 0, 0, 0));
    EXPECT_EQ(c->nextOutputs, 59);
    EXPECT_EQ(report, ownBit0 == 0);
  }
  // Without the input, nextOutputs becomes 0.
  Model m;
  UniverseCell* c = m.placePart(0, 0, 0, naive::Conductor, 0, 1, 1);
  c->nextOutputs = 17;
  EXPECT_TRUE(m.applyRule(c, blockOf(m, 0, 0, 0)));  // bit 0: outputs 1, next 0
  EXPECT_EQ(c->nextOutputs, 0);
}

TEST(NaiveRules, NorGate) {
  {
    Model m;
    UniverseCell* g = m.placePart(0, 0, 0, naive::NorGate, 0, 1);  // up +z
    EXPECT_TRUE(m.applyRule(g, blockOf(m, 0, 0, 0)));
    EXPECT_EQ(g->nextOutputs, 1);
  }
  for (int d = 0; d < 6; ++d) {
    Model m;
    // neighbour at step(d) driving toward the gate
    m.placePart(naive::kDx[d], naive::kDy[d], naive::kDz[d], 11, 0, 1,
                static_cast<uint8_t>(1 << naive::kOpposite[d]));
    UniverseCell* g = m.placePart(0, 0, 0, naive::NorGate, 0, 1);
    const bool report = m.applyRule(g, blockOf(m, 0, 0, 0));
    if (d == 0) {  // front face: no effect
      EXPECT_EQ(g->nextOutputs, 1) << d;
      EXPECT_TRUE(report);
    } else {
      EXPECT_EQ(g->nextOutputs, 0) << d;
      EXPECT_FALSE(report);
    }
  }
  // A neighbour that drives away from the gate is no input.
  Model m;
  m.placePart(0, -1, 0, 11, 0, 1, 0x3F & ~1);
  UniverseCell* g = m.placePart(0, 0, 0, naive::NorGate, 0, 1);
  m.applyRule(g, blockOf(m, 0, 0, 0));
  EXPECT_EQ(g->nextOutputs, 1);
}

TEST(NaiveRules, PulseInputDrivesForOneGenerationWhenActive) {
  Model m;
  m.placePart(0, 0, 0, naive::PulseInput, 0, 1);
  m.placePart(0, 1, 0, naive::Conductor, 0, 1);
  steps(m, 3);
  ASSERT_TRUE(m.currentList->empty());
  m.injectSignal(1, 0, 0, 4);  // wakes block (0,0,0) onto the current list
  ASSERT_TRUE(Model::onList(*m.currentList, blockOf(m, 0, 0, 0)));
  m.inputPulse = 1;
  m.step();
  EXPECT_EQ(m.inputPulse, 0);
  EXPECT_TRUE(m.testOutput(0, 0, 0, 0));
  EXPECT_FALSE(m.testOutput(0, 1, 0, 0));
  UniverseCell* p = m.peekCell(0, 0, 0);
  // next generation: the pulse is gone, the PulseInput switches off and
  // reports; the conductor sees the signal
  m.evaluatePhase();
  EXPECT_EQ(p->nextOutputs & 1, 0);
  EXPECT_TRUE(Model::onList(*m.nextList, blockOf(m, 0, 0, 0)));
  m.movePhase();
  m.commitPhase();
  m.finishGeneration();
  EXPECT_FALSE(m.testOutput(0, 0, 0, 0));
  EXPECT_TRUE(m.testOutput(0, 1, 0, 0));
}

TEST(NaiveRules, PulseWhileThePulseInputSleepsHasNoEffect) {
  Model m;
  m.placePart(0, 0, 0, naive::PulseInput, 0, 1);
  steps(m, 3);
  ASSERT_TRUE(m.currentList->empty());
  m.inputPulse = 1;
  m.step();
  EXPECT_EQ(m.inputPulse, 0);
  EXPECT_FALSE(m.testOutput(0, 0, 0, 0));
  m.step();
  EXPECT_FALSE(m.testOutput(0, 0, 0, 0));
}

TEST(NaiveRules, SourceKeepsItsFrontDrivenWithoutReporting) {
  Model m;
  UniverseCell* s = m.placePart(0, 0, 0, naive::Source, 1, 0);
  EXPECT_FALSE(m.applyRule(s, blockOf(m, 0, 0, 0)));
  EXPECT_EQ(s->nextOutputs, 1 << 1);
  // stored outputs drive from the first generation on
  Model n;
  n.placePart(0, -1, 0, naive::Source, 0, 1, 1);
  n.placePart(0, 0, 0, naive::Conductor, 0, 1);
  n.step();
  EXPECT_TRUE(n.testOutput(0, 0, 0, 0));
}

TEST(NaiveRules, ActuatorsLoseStoredOutputsAtTheirFirstCommit) {
  Model m;
  m.placePart(0, 0, 0, naive::Pusher, 0, 1, 0x3F);
  m.step();
  EXPECT_EQ(m.peekCell(0, 0, 0)->outputs, 0);
}

TEST(NaiveRules, RotatorTurnsAConductor) {
  // Quarter turn about +z on the frame (+y, +x, +z) with nextOutputs 1.
  UniverseCell c;
  c.partType = naive::Conductor;
  c.front = 0;
  c.side = 1;
  c.up = 4;
  c.nextOutputs = 1;
  Model::applyQuarterTurn(&c, 4);
  EXPECT_EQ(c.front, 3);
  EXPECT_EQ(c.side, 0);
  EXPECT_EQ(c.up, 4);
  EXPECT_EQ(c.nextOutputs, 8);

  // In a generation: Source -> Rotator facing +z -> a part with no rule
  // (so nothing rewrites its pending nextOutputs).
  Model m;
  m.placePart(0, 0, -1, naive::Source, 4, 1, 1 << 4);
  m.placePart(0, 0, 0, naive::Rotator, 4, 1);
  UniverseCell* t = m.placePart(0, 0, 1, 11, 0, 1, 0, 1 << 5);  // bonds are not turned
  t->nextOutputs = 1;
  m.step();
  EXPECT_EQ(t->front, 3);
  EXPECT_EQ(t->side, 0);
  EXPECT_EQ(t->up, 4);
  EXPECT_EQ(t->outputs, 8);
  EXPECT_EQ(t->bonds, 1 << 5);  // bonds stay attached to lattice faces
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

TEST(NaiveRules, BinderAndCutter) {
  {
    // Binder whose target has an empty neighbour along side: nothing
    // changes, report true.
    Model m;
    m.placePart(0, -1, 0, naive::Source, 0, 1, 1);
    UniverseCell* b = m.placePart(0, 0, 0, naive::Binder, 0, 1);
    UniverseCell* t = m.placePart(0, 1, 0, 11);
    EXPECT_TRUE(m.applyRule(b, blockOf(m, 0, 0, 0)));
    EXPECT_EQ(t->bonds, 0);
    EXPECT_EQ(m.peekCell(1, 1, 0)->bonds, 0);
  }
  {
    Model m;
    m.placePart(0, -1, 0, naive::Source, 0, 1, 1);
    UniverseCell* b = m.placePart(0, 0, 0, naive::Binder, 0, 1);
    UniverseCell* t = m.placePart(0, 1, 0, 11);
    UniverseCell* n = m.placePart(1, 1, 0, 12);
    EXPECT_TRUE(m.applyRule(b, blockOf(m, 0, 0, 0)));
    EXPECT_EQ(t->bonds, 1 << 1);
    EXPECT_EQ(n->bonds, 1 << 3);
    // Cutter removes it
    m.placePart(0, 0, 0, naive::Cutter, 0, 1);
    UniverseCell* c = m.peekCell(0, 0, 0);
    EXPECT_TRUE(m.applyRule(c, blockOf(m, 0, 0, 0)));
    EXPECT_EQ(t->bonds, 0);
    EXPECT_EQ(n->bonds, 0);
  }
  {
    // Without the input: nothing, report false.
    Model m;
    UniverseCell* b = m.placePart(0, 0, 0, naive::Binder, 0, 1);
    m.placePart(0, 1, 0, 11);
    m.placePart(1, 1, 0, 12);
    EXPECT_FALSE(m.applyRule(b, blockOf(m, 0, 0, 0)));
    EXPECT_EQ(m.peekCell(0, 1, 0)->bonds, 0);
  }
  {
    // A bond made in phase 1 is visible to a move requested later in the
    // same phase: the Binder (slot 0 of block (0,0,0)) bonds (0,1,0) to
    // (1,1,0); the Drive at (-1,1,0) (block (-1,0,0), created later) then
    // moves (0,1,0) +y together with (1,1,0).
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
}

TEST(NaiveRules, DriveMovesItsTargetAlongSideEveryTimeItIsWoken) {
  Model m;
  m.placePart(0, 0, 0, naive::Drive, 0, 1);
  m.evaluatePhase();
  EXPECT_TRUE(m.moveRequests.empty());  // empty target: nothing requested
  m.movePhase();
  m.commitPhase();
  m.finishGeneration();
  m.placePart(0, 1, 0, 11);
  m.step();
  EXPECT_EQ(typeAt(m, 0, 1, 0), 0);
  EXPECT_EQ(typeAt(m, 1, 1, 0), 11);
  m.step();
  EXPECT_EQ(typeAt(m, 1, 1, 0), 11);
  EXPECT_EQ(typeAt(m, 2, 1, 0), 0);
}

TEST(NaiveRules, PartTypesWithoutARuleAreSkippedButMoveTurnAndBond) {
  for (int type : {11, -1}) {
    Model m;
    UniverseCell* c = m.placePart(0, 0, 0, type, 0, 1, 1);
    c->nextOutputs = 4;
    EXPECT_FALSE(m.applyRule(c, blockOf(m, 0, 0, 0)));
    EXPECT_EQ(c->nextOutputs, 4);
    m.step();
    EXPECT_EQ(c->outputs, 4);  // commits like any other cell
  }
  Model m;
  m.placePart(0, -1, 0, naive::Source, 0, 1, 1);
  m.placePart(0, 0, 0, naive::Pusher, 0, 1);
  m.placePart(0, 1, 0, -1);
  m.step();
  EXPECT_EQ(typeAt(m, 0, 2, 0), -1);
  Model r;
  r.placePart(0, -1, 0, naive::Source, 0, 1, 1);
  r.placePart(0, 0, 0, naive::Rotator, 0, 1);
  UniverseCell* t = r.placePart(0, 1, 0, 11, 1, 0);
  r.step();
  EXPECT_EQ(t->front, naive::kQuarterTurn[0][1]);
  Model b;
  b.placePart(0, -1, 0, naive::Source, 0, 1, 1);
  b.placePart(0, 0, 0, naive::Binder, 0, 1);
  UniverseCell* u = b.placePart(0, 1, 0, 11);
  UniverseCell* v = b.placePart(1, 1, 0, -1);
  b.step();
  EXPECT_EQ(u->bonds, 1 << 1);
  EXPECT_EQ(v->bonds, 1 << 3);
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

TEST(NaiveRules, QuarterTurnTableIsTheRightHandedRotationAndMatchesTheFrameMoves) {
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
  // The 24 valid frames: up = side x front, equal to the up rule.
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
        // the six elementary frame moves
        const int fb = naive::kOpposite[f], sb = naive::kOpposite[s], ub = naive::kOpposite[u];
        int ef, es, eu;
        if (f == k) { ef = f; es = ub; eu = s; }
        else if (fb == k) { ef = f; es = u; eu = sb; }
        else if (s == k) { ef = u; es = s; eu = fb; }
        else if (sb == k) { ef = ub; es = s; eu = f; }
        else if (u == k) { ef = sb; es = f; eu = u; }
        else { ef = s; es = fb; eu = u; }
        EXPECT_EQ(c.front, ef) << f << s << k;
        EXPECT_EQ(c.side, es) << f << s << k;
        EXPECT_EQ(c.up, eu) << f << s << k;
        // the turned frame is valid again
        EXPECT_EQ(c.up, dirOf(cross(vecOf(c.side), vecOf(c.front))));
      }
    }
  EXPECT_EQ(frames, 24);
}

TEST(NaiveRules, QuarterTurnMovesOutputBitsAndDropsBits6And7) {
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

TEST(NaiveRules, InvalidDirectionsActThroughNothing) {
  // front/side/up outside 0..5 are kept; a rule that needs an
  // invalid field does nothing and reports false; a turn leaves such a field
  // unchanged; an invalid axis turns nothing.
  {
    Model m;
    m.placePart(0, -1, 0, naive::Source, 0, 1, 1);
    UniverseCell* c = m.placePart(0, 0, 0, naive::Conductor, 7, 1);
    c->nextOutputs = 9;
    EXPECT_FALSE(m.applyRule(c, blockOf(m, 0, 0, 0)));
    EXPECT_EQ(c->nextOutputs, 9);
  }
  {
    Model m;
    UniverseCell* s = m.placePart(0, 0, 0, naive::Source, -1, 1);
    EXPECT_FALSE(m.applyRule(s, blockOf(m, 0, 0, 0)));
    EXPECT_EQ(s->nextOutputs, 0);
  }
  {
    // Drive with a valid front and an invalid side: no move.
    Model m;
    UniverseCell* d = m.placePart(0, 0, 0, naive::Drive, 0, 9);
    m.placePart(0, 1, 0, 11);
    EXPECT_FALSE(m.applyRule(d, blockOf(m, 0, 0, 0)));
    EXPECT_TRUE(m.moveRequests.empty());
  }
  {
    // NorGate whose up is invalid (front 4, side -3 gives up (-3+1)%4 = -2).
    Model m;
    UniverseCell* g = m.placePart(0, 0, 0, naive::NorGate, 4, -3);
    EXPECT_EQ(g->up, -2);
    EXPECT_FALSE(m.applyRule(g, blockOf(m, 0, 0, 0)));
    EXPECT_EQ(g->nextOutputs, 0);
  }
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
  {
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
  {
    // Written back as read.
    Model m;
    m.readGridText("0 0 0 1 1 1 " + entry(3, 9, -4));
    const std::string text = m.writeBlocksString();
    EXPECT_NE(text.find("3\n9\n-4\n"), std::string::npos);
  }
}

// ===========================================================================
// Grid file
// ===========================================================================

TEST(NaiveGrid, UpRule) {
  EXPECT_EQ(naive::upRule(0, 1), 4);
  EXPECT_EQ(naive::upRule(1, 0), 5);
  EXPECT_EQ(naive::upRule(4, 0), 1);
  EXPECT_EQ(naive::upRule(5, 1), 0);
  EXPECT_EQ(naive::upRule(4, 5), 2);  // rule 2
  EXPECT_EQ(naive::upRule(0, 0), 5);  // not perpendicular: rule 5
}

TEST(NaiveGrid, PlainAndKeywordBoxesGiveTheSameUniverse) {
  std::string cells;
  random_universe::Rng rng(5);
  for (int i = 0; i < 2 * 3 * 4; ++i)
    cells += entry(static_cast<int>(rng.range(0, 10)), static_cast<int>(rng.range(0, 5)),
                   static_cast<int>(rng.range(0, 5)), static_cast<int>(rng.range(0, 63)),
                   static_cast<int>(rng.range(0, 63)));
  Model a, b;
  a.readGridText("-3 4 -1 2 3 4\n" + cells);
  b.readGridText("record region -3 4 -1 2 3 4\n" + cells);
  EXPECT_EQ(a.writeBlocksString(), b.writeBlocksString());
  EXPECT_GT(a.blockCount(), 0u);
}

TEST(NaiveGrid, ABlockSizedBoxAtABlockOriginReproducesOneSavedBlock) {
  std::string text = "4 -2 6\n2 2 3 \n";
  random_universe::Rng rng(11);
  for (int i = 0; i < 12; ++i) {
    const int type = static_cast<int>(rng.range(1, 10));
    const int front = static_cast<int>(rng.range(0, 5));
    const int side = static_cast<int>(rng.range(0, 5));
    text += std::to_string(type) + "\n" + std::to_string(front) + "\n" + std::to_string(side) + "\n";
    for (int d = 0; d < 6; ++d) text += std::to_string(rng.range(0, 1)) + "\n";
    for (int d = 0; d < 6; ++d) text += "0\n";  // no bonds, so checkBonds keeps everything
  }
  Model m;
  m.readGridText(text);
  EXPECT_EQ(m.blockCount(), 1u);
  EXPECT_EQ(m.writeBlocksString(), text);
}

TEST(NaiveGrid, SavingAndReloadingKeepsCellsOrientationsOutputsAndBonds) {
  random_universe::Params params;
  params.regionChance = 0;
  params.malformedChance = 0;
  params.farChance = 0;
  for (uint64_t seed = 1; seed <= 20; ++seed) {
    Model a;
    a.readGridText(random_universe::generate(seed, params));
    const std::string saved = a.writeBlocksString();
    Model b;
    b.readGridText(saved);
    EXPECT_TRUE(b.conflictMessages.empty());
    int compared = 0;
    for (int i = 0; i < naive::kBucketCount; ++i)
      for (naive::ChainNode* node = a.buckets[i]; node != nullptr; node = node->next)
        for (int s = 0; s < 12; ++s) {
          const UniverseCell* c = node->block->cells[s];
          const UniverseCell* d = b.peekCell(c->x, c->y, c->z);
          if (c->partType == 0) {
            EXPECT_TRUE(d == nullptr || d->partType == 0);
            continue;
          }
          ASSERT_NE(d, nullptr);
          EXPECT_EQ(d->partType, c->partType);
          EXPECT_EQ(d->front, c->front);
          EXPECT_EQ(d->side, c->side);
          EXPECT_EQ(d->up, c->up);
          EXPECT_EQ(d->outputs, c->outputs);
          EXPECT_EQ(d->bonds, c->bonds);
          ++compared;
        }
    EXPECT_EQ(compared, partCount(b)) << seed;
    // A reloaded save saves to the same text again.
    Model c;
    c.readGridText(b.writeBlocksString());
    EXPECT_EQ(c.writeBlocksString(), b.writeBlocksString());
  }
}

TEST(NaiveGrid, WriteBlocksStringEqualsWriteBlocks) {
  for (uint64_t seed = 1; seed <= 10; ++seed) {
    Model m;
    m.readGridText(random_universe::generate(seed));
    steps(m, 5);
    std::ostringstream out;
    m.writeBlocks(out);
    EXPECT_EQ(out.str(), m.writeBlocksString());
  }
}

TEST(NaiveGrid, TypeZeroEntriesCreateNothing) {
  Model m;
  m.readGridText("0 0 0 1 1 2\n" + entry(0, 3, 2, 63, 63) + entry(0, 0, 1, 1, 0));
  EXPECT_EQ(m.blockCount(), 0u);
}

TEST(NaiveGrid, AnyNonZeroBondOrOutputValueCounts) {
  // (0,0,1) bond 5 written as 32 and bond 0 written as 2; partners bond back
  // with other non-zero values.
  Model m;
  std::string text = "0 0 0 1 2 2\n";
  text += "11 0 1  0 0 0 0 0 0  0 0 0 0 16 0\n";   // (0,0,0): bond +z
  text += "11 0 1  0 0 0 0 0 0  2 0 0 0 0 32\n";   // (0,0,1): bond +y (value 2), -z (32)
  text += "11 0 1  0 0 0 0 0 0  0 0 0 0 0 0\n";    // (0,1,0)
  text += "11 0 1  -5 0 7 0 0 0  0 0 -1 0 0 0\n";  // (0,1,1): bond -y (value -1)
  m.readGridText(text);
  EXPECT_EQ(m.peekCell(0, 0, 0)->bonds, 1 << 4);
  EXPECT_EQ(m.peekCell(0, 0, 1)->bonds, (1 << 0) | (1 << 5));
  EXPECT_EQ(m.peekCell(0, 1, 1)->bonds, 1 << 2);
  EXPECT_EQ(m.peekCell(0, 1, 1)->outputs, (1 << 0) | (1 << 2));
  EXPECT_EQ(m.peekCell(0, 1, 1)->nextOutputs, 0);
  // written back as the masked bit
  const std::string saved = m.writeBlocksString();
  Model n;
  n.readGridText(saved);
  EXPECT_EQ(n.writeBlocksString(), saved);
}

TEST(NaiveGrid, BoxEntryOrderIsYThenZThenX) {
  Model m;
  std::string text = "10 20 30 2 2 3\n";
  for (int k = 0; k < 12; ++k) text += entry(100 + k, 0, 1);
  m.readGridText(text);
  for (int k = 0; k < 12; ++k) {
    const int x = 10 + k % 2, y = 20 + k / (2 * 3), z = 30 + (k / 2) % 3;
    EXPECT_EQ(typeAt(m, x, y, z), 100 + k) << k;
  }
}

TEST(NaiveGrid, CellsReferToTheInnermostOpenRegion) {
  Model m;
  std::string text;
  text += "0 0 0 1 1 1 " + entry(11, 0, 1);
  text += "record identifier cpu 1 0 0 1 1 1 " + entry(11, 0, 1);
  text += "record identifier alu record region 2 0 0 1 1 1 " + entry(11, 0, 1);
  text += "record up 3 0 0 1 1 1 " + entry(11, 0, 1);
  text += "record up 4 0 0 1 1 1 " + entry(11, 0, 1);
  m.readGridText(text);
  EXPECT_EQ(m.peekCell(0, 0, 0)->region, nullptr);
  ASSERT_NE(m.peekCell(1, 0, 0)->region, nullptr);
  EXPECT_EQ(m.peekCell(1, 0, 0)->region->path, "cpu");
  EXPECT_EQ(m.peekCell(2, 0, 0)->region->path, "cpu.alu");
  EXPECT_EQ(m.peekCell(3, 0, 0)->region, m.peekCell(1, 0, 0)->region);
  EXPECT_EQ(m.peekCell(4, 0, 0)->region, nullptr);
}

TEST(NaiveGrid, ConflictMessageNamesBothRegions) {
  Model m;
  std::string text;
  text += "record identifier a 0 0 0 1 1 1 " + entry(3, 0, 1);
  text += "record identifier b 0 0 0 1 1 1 " + entry(9, 0, 1);
  text += "record up record up 0 0 0 1 1 1 " + entry(5, 0, 1);
  m.readGridText(text);
  ASSERT_EQ(m.conflictMessages.size(), 2u);
  EXPECT_EQ(m.conflictMessages[0],
            "Error: UniverseCell at 0 0 0, block 0 0 0 contains part type 3, replacing with "
            "type 9. Regions: a a.b");
  EXPECT_EQ(m.conflictMessages[1],
            "Error: UniverseCell at 0 0 0, block 0 0 0 contains part type 9, replacing with "
            "type 5. Regions: a.b ?");
}

TEST(NaiveGrid, RecordWithAnotherWordReusesThePreviousX0) {
  Model m;
  std::string text;
  text += "5 0 0 1 1 1 " + entry(11, 0, 1);
  text += "record foo 1 0 1 1 1 " + entry(12, 0, 1);        // x0 = 5 again
  text += "record identifier r record foo 7 0 0 1 1 1 " + entry(13, 0, 1);
  // after a region start "record foo" is skipped; "7" then starts a plain box
  m.readGridText(text);
  EXPECT_EQ(typeAt(m, 5, 0, 0), 11);
  EXPECT_EQ(typeAt(m, 5, 1, 0), 12);
  EXPECT_EQ(typeAt(m, 7, 0, 0), 13);
  EXPECT_EQ(m.peekCell(7, 0, 0)->region->path, "r");
  // "record foo" at the very start (no box read yet) is skipped too
  Model n;
  n.readGridText("record foo 3 0 0 1 1 1 " + entry(11, 0, 1));
  EXPECT_EQ(typeAt(n, 3, 0, 0), 11);
}

TEST(NaiveGrid, LeadingIntegerConversionOfThePlainBoxX0) {
  EXPECT_EQ(naive::leadingInteger("12abc"), 12);
  EXPECT_EQ(naive::leadingInteger("-7"), -7);
  EXPECT_EQ(naive::leadingInteger("+7x"), 7);
  EXPECT_EQ(naive::leadingInteger("abc"), 0);
  EXPECT_EQ(naive::leadingInteger("-"), 0);
  EXPECT_EQ(naive::leadingInteger("99999999999"), 2147483647);
  EXPECT_EQ(naive::leadingInteger("-99999999999"), -2147483647 - 1);
  Model m;
  m.readGridText("3abc 0 0 1 1 1 " + entry(11, 0, 1) + "xyz 1 0 1 1 1 " + entry(12, 0, 1));
  EXPECT_EQ(typeAt(m, 3, 0, 0), 11);
  EXPECT_EQ(typeAt(m, 0, 1, 0), 12);
  // the stream extraction used elsewhere fails on such a word and ends the load
  Model n;
  n.readGridText("record region 3abc 0 0 1 1 1 " + entry(11, 0, 1));
  EXPECT_EQ(n.blockCount(), 0u);
}

TEST(NaiveGrid, AFailedReadInsideABoxKeepsTheCellsReadSoFar) {
  // Stop at the failed read: complete cells stay; the cut-off cell
  // is not placed; the load ends; checkBonds and relink still run.
  Model m;
  std::string text = "0 0 0 3 1 1\n";
  text += entry(11, 0, 1, 0, 1 << 1);  // bonded to the next cell, which never arrives
  text += "12 0 1 0 0 0 0 0 0 0 0 0 1";  // 13 of 15 values
  m.readGridText(text + "\n");
  EXPECT_EQ(typeAt(m, 0, 0, 0), 11);
  EXPECT_EQ(typeAt(m, 1, 0, 0), 0);
  EXPECT_EQ(m.peekCell(0, 0, 0)->bonds, 0);  // checkBonds ran
  // a bad word inside a box ends the load too; later boxes are not read
  Model n;
  n.readGridText("0 0 0 2 1 1\n" + entry(11, 0, 1) + "12 x 1 0 0 0 0 0 0 0 0 0 0 0 0\n" +
                 "5 5 5 1 1 1 " + entry(13, 0, 1));
  EXPECT_EQ(typeAt(n, 0, 0, 0), 11);
  EXPECT_EQ(typeAt(n, 1, 0, 0), 0);
  EXPECT_EQ(typeAt(n, 5, 5, 5), 0);
  // the relink pass ran: the placed cell is linked to its block neighbour
  EXPECT_EQ(n.peekCell(0, 0, 0)->links[1], n.peekCell(1, 0, 0));
}

TEST(NaiveGrid, HugeCountBoxReadsUntilTheDataRunsOut) {
  Model m;
  m.readGridText("0 0 0 -1 1 1\n" + entry(11, 0, 1) + entry(12, 0, 1) + "13 0 1 0");
  EXPECT_EQ(typeAt(m, 0, 0, 0), 11);
  EXPECT_EQ(typeAt(m, 1, 0, 0), 12);
  EXPECT_EQ(typeAt(m, 2, 0, 0), 0);
}

TEST(NaiveGrid, ABoxWithAZeroCountIsEmpty) {
  Model m;
  m.readGridText("0 0 0 0 4294967295 5\n record region 1 1 1 3 0 3 7 7 7 1 1 1 " +
                 entry(11, 0, 1));
  EXPECT_EQ(m.blockCount(), 1u);
  EXPECT_EQ(typeAt(m, 7, 7, 7), 11);
}

TEST(NaiveGrid, AWordLongerThan127CharactersEndsTheRead) {
  Model m;
  m.readGridText("record identifier " + std::string(127, 'a') + " 0 0 0 1 1 1 " +
                 entry(11, 0, 1) + "record identifier " + std::string(128, 'b') +
                 " 1 0 0 1 1 1 " + entry(12, 0, 1));
  EXPECT_EQ(typeAt(m, 0, 0, 0), 11);
  EXPECT_EQ(m.peekCell(0, 0, 0)->region->path, std::string(127, 'a'));
  EXPECT_EQ(typeAt(m, 1, 0, 0), 0);
  EXPECT_EQ(m.regionEntries.size(), 1u);
  Model n;
  n.readGridText(std::string(128, '1') + " 0 0 1 1 1 " + entry(11, 0, 1));
  EXPECT_EQ(n.blockCount(), 0u);
}

TEST(NaiveGrid, PartsBeyondOneBillionAreSkippedAndCounted) {
  Model m;
  const int skipped = m.readGridText("999999999 0 0 3 1 1\n" + entry(11, 0, 1) +
                                     entry(12, 0, 1) + entry(13, 0, 1) +
                                     "0 -1000000001 0 1 1 2\n" + entry(14, 0, 1) + entry(0, 0, 1) +
                                     "0 0 2147483647 1 1 2\n" + entry(15, 0, 1) + entry(16, 0, 1));
  EXPECT_EQ(skipped, 4);  // 1000000001, the part at y -1000000001, both at z >= 2^31-1
  EXPECT_EQ(m.skippedParts, 4);
  EXPECT_EQ(typeAt(m, 999999999, 0, 0), 11);
  EXPECT_EQ(typeAt(m, 1000000000, 0, 0), 12);
  EXPECT_EQ(m.blockCount(), 2u);
  EXPECT_EQ(m.checkInvariants(), "");
}

TEST(NaiveGrid, LoadEnlistsEveryBlockForTheFirstGeneration) {
  Model m;
  m.readGridText("0 0 0 4 1 1\n" + entry(11, 0, 1) + entry(0, 0, 1) + entry(0, 0, 1) +
                 entry(12, 0, 1));
  EXPECT_EQ(m.currentList->size(), 2u);
  EXPECT_EQ(m.nextList->size(), 2u);
  EXPECT_EQ(m.commitList.size(), 2u);
  EXPECT_EQ(m.moveList.size(), 2u);
  m.step();
  EXPECT_EQ(m.activeBlockCount, 2);
  EXPECT_EQ(betweenGenerations(m), "");
}

// ===========================================================================
// Regions
// ===========================================================================

TEST(NaiveRegions, NestedPaths) {
  Model m;
  m.readGridText(
      "record identifier a record identifier b record identifier c record up "
      "record identifier d");
  std::vector<std::string> paths;
  for (const naive::RegionEntry* r : m.regionEntries) paths.push_back(r->path);
  EXPECT_EQ(paths, (std::vector<std::string>{"a", "a.b", "a.b.c", "a.b.d"}));
  auto it = m.regionEntries.begin();
  const naive::RegionEntry* a = *it++;
  const naive::RegionEntry* b = *it++;
  const naive::RegionEntry* c = *it++;
  const naive::RegionEntry* d = *it++;
  EXPECT_EQ(a->parent, nullptr);
  EXPECT_EQ(b->parent, a);
  EXPECT_EQ(c->parent, b);
  EXPECT_EQ(d->parent, b);
  EXPECT_EQ(a->visible, 1);
  EXPECT_EQ(a->ticked, 1);
}

TEST(NaiveRegions, UnmatchedEndsAreIgnoredAndUnendedStartsStayOpen) {
  Model m;
  m.readGridText("record up record up record identifier x.y 0 0 0 1 1 1 " + entry(11, 0, 1) +
                 "record identifier z 1 0 0 1 1 1 " + entry(11, 0, 1));
  ASSERT_EQ(m.regionEntries.size(), 2u);
  EXPECT_EQ(m.peekCell(0, 0, 0)->region->path, "x.y");
  EXPECT_EQ(m.peekCell(1, 0, 0)->region->path, "x.y.z");
}

TEST(NaiveRegions, EqualPathsGiveSeparateEntries) {
  Model m;
  m.readGridText("record identifier p record identifier q 0 0 0 1 1 1 " + entry(11, 0, 1) +
                 "record up record identifier q 1 0 0 1 1 1 " + entry(11, 0, 1));
  ASSERT_EQ(m.regionEntries.size(), 3u);
  const naive::RegionEntry* first = m.peekCell(0, 0, 0)->region;
  const naive::RegionEntry* second = m.peekCell(1, 0, 0)->region;
  EXPECT_NE(first, second);
  EXPECT_EQ(first->path, "p.q");
  EXPECT_EQ(second->path, "p.q");
}

TEST(NaiveRegions, CellOutsideAnyRegionShowsQuestionMark) {
  Model m;
  m.readGridText("record identifier r 0 0 0 1 1 1 " + entry(3, 0, 1) + "record up 0 0 0 1 1 1 " +
                 entry(4, 0, 1));
  ASSERT_EQ(m.conflictMessages.size(), 1u);
  EXPECT_NE(m.conflictMessages[0].find("Regions: r ?"), std::string::npos);
  EXPECT_EQ(m.peekCell(0, 0, 0)->region, nullptr);
}

// ===========================================================================
// Whole-model properties on random universes
// ===========================================================================

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
}

TEST(NaiveProperties, HashTwinRegionsShareBuckets) {
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
