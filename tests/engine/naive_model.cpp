// naive_model.cpp - a deliberately literal, unoptimised model of the
// universe, the generation update, the rules, the grid reader (and written
// form) and regions, used as an oracle.  See naive_model.h.
#include "naive_model.h"

#include <charconv>
#include <cstdio>
#include <deque>
#include <istream>
#include <limits>
#include <ostream>
#include <sstream>
#include <unordered_map>
#include <vector>

namespace naive {

// ===========================================================================
// Small helpers
// ===========================================================================

bool isValidDirection(int32_t d) { return d >= 0 && d <= 5; }

int32_t upRule(int32_t front, int32_t side) {
  // The cases are tried in order; '%' is C++'s truncating remainder.
  const int64_t f = front;
  const int64_t s = side;
  if (f == 5) return static_cast<int32_t>((s + 3) % 4);
  if (s == 5) return f == 4 ? 2 : static_cast<int32_t>((f + 1) % 4);
  if (f == 4) return static_cast<int32_t>((s + 1) % 4);
  if (s == 4) return static_cast<int32_t>((f + 3) % 4);
  return s == (f + 1) % 4 ? 4 : 5;
}

int64_t floorDiv(int64_t a, int64_t b) {
  int64_t q = a / b;
  if ((a % b != 0) && ((a < 0) != (b < 0))) --q;
  return q;
}

int64_t floorMod(int64_t a, int64_t b) { return a - floorDiv(a, b) * b; }

int32_t leadingInteger(const std::string& word) {
  size_t i = 0;
  while (i < word.size() && (word[i] == ' ' || word[i] == '\t' || word[i] == '\n' ||
                             word[i] == '\r' || word[i] == '\v' || word[i] == '\f'))
    ++i;
  bool negative = false;
  if (i < word.size() && (word[i] == '+' || word[i] == '-')) {
    negative = word[i] == '-';
    ++i;
  }
  int64_t value = 0;
  const int64_t limit = int64_t(1) << 40;  // far beyond 32 bits; saturates below
  while (i < word.size() && word[i] >= '0' && word[i] <= '9') {
    if (value < limit) value = value * 10 + (word[i] - '0');
    ++i;
  }
  if (negative) value = -value;
  if (value > std::numeric_limits<int32_t>::max()) return std::numeric_limits<int32_t>::max();
  if (value < std::numeric_limits<int32_t>::min()) return std::numeric_limits<int32_t>::min();
  return static_cast<int32_t>(value);
}

// ===========================================================================
// Construction and teardown
// ===========================================================================

Model::Model() : buckets(kBucketCount, nullptr) {
  // empty hash, empty lists, counters 0, currentList and nextList set to the
  // two block lists.
  currentList = &blockLists[0];
  nextList = &blockLists[1];
}

Model::~Model() {
  // Teardown, in order: region entries, commit list, move list, both active
  // lists and the move request list, then every block in every chain.
  for (RegionEntry* r : regionEntries) delete r;
  regionEntries.clear();
  commitList.clear();
  moveList.clear();
  blockLists[0].clear();
  blockLists[1].clear();
  for (MoveRequest* r : moveRequests) delete r;
  moveRequests.clear();
  for (int i = 0; i < kBucketCount; ++i) {
    ChainNode* node = buckets[i];
    while (node != nullptr) {
      ChainNode* next = node->next;
      destroyBlock(node->block);
      delete node;
      node = next;
    }
    buckets[i] = nullptr;
  }
}

// ===========================================================================
// Block coordinates, hashing, lookup, insertion, creation
// ===========================================================================

void Model::blockCoordinates(int32_t x, int32_t y, int32_t z, int32_t& bx, int32_t& by,
                             int32_t& bz) {
  bx = static_cast<int32_t>(floorDiv(x, 2));
  by = static_cast<int32_t>(floorDiv(y, 2));
  bz = static_cast<int32_t>(floorDiv(z, 3));
}

int Model::slotOf(int32_t x, int32_t y, int32_t z) {
  const int xi = static_cast<int>(floorMod(x, 2));
  const int yi = static_cast<int>(floorMod(y, 2));
  const int zi = static_cast<int>(floorMod(z, 3));
  return xi * 6 + yi * 3 + zi;
}

uint32_t Model::bucketOf(int32_t bx, int32_t by, int32_t bz) {
  // key = ((by + 30) << 10) XOR ((bx + 30) << 5) XOR (bz + 30), unsigned
  // 32-bit arithmetic, then modulo 99991 as an unsigned division.
  const uint32_t ux = static_cast<uint32_t>(bx) + 30u;
  const uint32_t uy = static_cast<uint32_t>(by) + 30u;
  const uint32_t uz = static_cast<uint32_t>(bz) + 30u;
  const uint32_t key = (uy << 10) ^ (ux << 5) ^ uz;
  return key % static_cast<uint32_t>(kBucketCount);
}

UniverseBlock* Model::lookupBlock(int32_t bx, int32_t by, int32_t bz) const {
  // Walk the bucket's chain from its head; first block whose origin equals
  // (2bx, 2by, 3bz).
  const int32_t ox = 2 * bx, oy = 2 * by, oz = 3 * bz;
  for (ChainNode* node = buckets[bucketOf(bx, by, bz)]; node != nullptr; node = node->next) {
    UniverseBlock* b = node->block;
    if (b->originX == ox && b->originY == oy && b->originZ == oz) return b;
  }
  return nullptr;
}

void Model::insertBlock(UniverseBlock* block) {
  const int32_t bx = block->originX / 2, by = block->originY / 2, bz = block->originZ / 3;
  ChainNode** link = &buckets[bucketOf(bx, by, bz)];
  while (*link != nullptr) {
    ChainNode* node = *link;
    if (node->block->originX == block->originX && node->block->originY == block->originY &&
        node->block->originZ == block->originZ) {
      node->block = block;  // the node is pointed at the new block
      return;
    }
    link = &node->next;
  }
  ChainNode* node = new ChainNode;
  node->block = block;
  node->next = nullptr;
  *link = node;  // appended at the end of the chain
}

std::list<UniverseBlock*>& Model::listForFlag(uint32_t flag) {
  switch (flag) {
    case kOnNext: return *nextList;
    case kOnCommit: return commitList;
    case kOnMove: return moveList;
    default: return *currentList;
  }
}

void Model::enlist(UniverseBlock* block, uint32_t flag) {
  if ((block->listFlags & flag) == 0) {
    listForFlag(flag).push_back(block);
    block->listFlags |= flag;
  }
}

void Model::enlistForUpdate(UniverseBlock* block) {
  // move, commit and next active lists (flags 4, 2, 1, in that order).
  enlist(block, kOnMove);
  enlist(block, kOnCommit);
  enlist(block, kOnNext);
}

UniverseBlock* Model::createBlock(int32_t bx, int32_t by, int32_t bz) {
  UniverseBlock* block = new UniverseBlock;
  // 1. origin, owning universe, listFlags 0.
  block->originX = 2 * bx;
  block->originY = 2 * by;
  block->originZ = 3 * bz;
  block->universe = this;
  block->listFlags = 0;
  // 2. next (1), current (8), commit (2), move (4).
  enlist(block, kOnNext);
  enlist(block, kOnCurrent);
  enlist(block, kOnCommit);
  enlist(block, kOnMove);
  // 3. 12 new cells in slot order (xi outer, yi middle, zi inner).
  for (int xi = 0; xi < 2; ++xi)
    for (int yi = 0; yi < 2; ++yi)
      for (int zi = 0; zi < 3; ++zi) {
        UniverseCell* cell = new UniverseCell;
        cell->x = block->originX + xi;
        cell->y = block->originY + yi;
        cell->z = block->originZ + zi;
        block->cells[xi * 6 + yi * 3 + zi] = cell;
      }
  // 4. bond consistency pass (a no-op for new empty cells).
  checkBonds(block);
  // 5. insert into the hash.
  insertBlock(block);
  return block;
}

void Model::destroyBlock(UniverseBlock* block) {
  // For each cell: clear the back-link in every linked neighbour, then free
  // the cells and the block.  (Back-links of all 12 cells are cleared before
  // any cell is freed so that no freed cell is ever touched; with symmetric
  // links this is the same as doing it cell by cell.)
  for (int s = 0; s < 12; ++s) {
    UniverseCell* cell = block->cells[s];
    for (int d = 0; d < 6; ++d)
      if (cell->links[d] != nullptr) cell->links[d]->links[kOpposite[d]] = nullptr;
  }
  for (int s = 0; s < 12; ++s) {
    delete block->cells[s];
    block->cells[s] = nullptr;
  }
  delete block;
}

// ===========================================================================
// Operations
// ===========================================================================

void Model::placeCell(UniverseCell* cell) {
  // 1. Find the block, creating and inserting it if missing.
  int32_t bx, by, bz;
  blockCoordinates(cell->x, cell->y, cell->z, bx, by, bz);
  UniverseBlock* block = lookupBlock(bx, by, bz);
  if (block == nullptr) block = createBlock(bx, by, bz);
  // 2. Slot; conflict message if the old cell holds a part.
  const int xi = static_cast<int>(floorMod(cell->x, 2));
  const int yi = static_cast<int>(floorMod(cell->y, 2));
  const int zi = static_cast<int>(floorMod(cell->z, 3));
  const int slot = xi * 6 + yi * 3 + zi;
  UniverseCell* old = block->cells[slot];
  if (old->partType != 0) {
    // The "UniverseCell at" numbers are the block's origin and the "block"
    // numbers are the slot's xi, yi, zi: that is the message's format.
    const std::string oldRegion = old->region != nullptr ? old->region->path : "?";
    const std::string newRegion = cell->region != nullptr ? cell->region->path : "?";
    const char* fmt =
        "Error: UniverseCell at %d %d %d, block %d %d %d contains part type %d, "
        "replacing with type %d. Regions: %s %s";
    std::vector<char> buffer(200 + oldRegion.size() + newRegion.size());
    std::snprintf(buffer.data(), buffer.size(), fmt, block->originX, block->originY,
                  block->originZ, xi, yi, zi, old->partType, cell->partType, oldRegion.c_str(),
                  newRegion.c_str());
    conflictMessages.push_back(std::string(buffer.data()));
  }
  // 3. Destroy the old cell.
  for (int d = 0; d < 6; ++d)
    if (old->links[d] != nullptr) old->links[d]->links[kOpposite[d]] = nullptr;
  delete old;
  // 4. Store the new cell and link it.
  block->cells[slot] = cell;
  linkCell(cell);
  // 5. Wake the block and its existing neighbours onto the current list.
  wakeBlocks(bx, by, bz, 63, WakeTarget::Current);
}

UniverseCell* Model::cellForUpdate(int32_t x, int32_t y, int32_t z) {
  int32_t bx, by, bz;
  blockCoordinates(x, y, z, bx, by, bz);
  UniverseBlock* block = lookupBlock(bx, by, bz);
  if (block == nullptr) block = createBlock(bx, by, bz);
  enlistForUpdate(block);
  return block->cells[slotOf(x, y, z)];
}

UniverseCell* Model::findCell(int32_t x, int32_t y, int32_t z) {
  int32_t bx, by, bz;
  blockCoordinates(x, y, z, bx, by, bz);
  UniverseBlock* block = lookupBlock(bx, by, bz);
  if (block == nullptr) return nullptr;
  enlistForUpdate(block);
  return block->cells[slotOf(x, y, z)];
}

bool Model::testOutput(int32_t x, int32_t y, int32_t z, int32_t direction) const {
  int32_t bx, by, bz;
  blockCoordinates(x, y, z, bx, by, bz);
  const UniverseBlock* block = lookupBlock(bx, by, bz);
  if (block == nullptr) return false;
  if (direction < 0 || direction > 7) return false;
  return ((block->cells[slotOf(x, y, z)]->outputs >> direction) & 1) != 0;
}

void Model::injectSignal(int32_t x, int32_t y, int32_t z, int32_t direction) {
  if (!isValidDirection(direction)) return;  // nothing acts through it
  UniverseCell* cell =
      cellForUpdate(x + kDx[direction], y + kDy[direction], z + kDz[direction]);
  cell->outputs = static_cast<uint8_t>(cell->outputs | (1u << kOpposite[direction]));
  int32_t bx, by, bz;
  blockCoordinates(cell->x, cell->y, cell->z, bx, by, bz);
  wakeBlocks(bx, by, bz, 63, WakeTarget::Current);
}

void Model::setBond(int32_t x, int32_t y, int32_t z, int32_t direction, bool on) {
  if (!isValidDirection(direction)) return;  // nothing acts through it
  UniverseCell* a = cellForUpdate(x, y, z);
  UniverseCell* b = cellForUpdate(x + kDx[direction], y + kDy[direction], z + kDz[direction]);
  if (a->partType == 0 || b->partType == 0) return;
  if (on) {
    a->bonds = static_cast<uint8_t>(a->bonds | (1u << direction));
    b->bonds = static_cast<uint8_t>(b->bonds | (1u << kOpposite[direction]));
  } else {
    a->bonds = static_cast<uint8_t>(a->bonds & ~(1u << direction));
    b->bonds = static_cast<uint8_t>(b->bonds & ~(1u << kOpposite[direction]));
  }
}

void Model::linkCell(UniverseCell* cell) {
  for (int d = 0; d < 6; ++d) {
    UniverseCell* n = findCell(cell->x + kDx[d], cell->y + kDy[d], cell->z + kDz[d]);
    cell->links[d] = n;
    if (n != nullptr) n->links[kOpposite[d]] = cell;
  }
}

void Model::relinkBlock(UniverseBlock* block) {
  for (int s = 0; s < 12; ++s) linkCell(block->cells[s]);
}

void Model::checkBonds(UniverseBlock* block) {
  for (int s = 0; s < 12; ++s) {
    UniverseCell* cell = block->cells[s];
    for (int d = 0; d < 6; ++d) {
      if ((cell->bonds & (1u << d)) == 0) continue;
      UniverseCell* n = findCell(cell->x + kDx[d], cell->y + kDy[d], cell->z + kDz[d]);
      if (n == nullptr || n->partType == 0 || (n->bonds & (1u << kOpposite[d])) == 0)
        cell->bonds = static_cast<uint8_t>(cell->bonds & ~(1u << d));
    }
  }
}

void Model::wakeBlocks(int32_t bx, int32_t by, int32_t bz, unsigned mask, WakeTarget target) {
  // Wake mask bits: 1 = +y, 2 = -y, 4 = +x, 8 = -x, 16 = +z, 32 = -z.
  // Candidates in the order -x, -y, -z, the block itself, +z, +y, +x.
  struct Candidate {
    bool included;
    int32_t bx, by, bz;
  };
  const Candidate candidates[7] = {
      {(mask & 8) != 0, bx - 1, by, bz},  {(mask & 2) != 0, bx, by - 1, bz},
      {(mask & 32) != 0, bx, by, bz - 1}, {true, bx, by, bz},
      {(mask & 16) != 0, bx, by, bz + 1}, {(mask & 1) != 0, bx, by + 1, bz},
      {(mask & 4) != 0, bx + 1, by, bz},
  };
  for (const Candidate& c : candidates) {
    if (!c.included) continue;
    UniverseBlock* block = lookupBlock(c.bx, c.by, c.bz);
    if (block == nullptr) continue;
    enlist(block, target == WakeTarget::Current ? kOnCurrent : kOnNext);
  }
}

Centroid Model::centroid() const {
  double sx = 0, sy = 0, sz = 0;
  int count = 0;
  for (int i = 0; i < kBucketCount; ++i)
    for (ChainNode* node = buckets[i]; node != nullptr; node = node->next)
      for (int s = 0; s < 12; ++s) {
        const UniverseCell* cell = node->block->cells[s];
        if (cell->partType == 0) continue;
        sx += cell->x;
        sy += cell->y;
        sz += cell->z;
        ++count;
      }
  Centroid c;
  c.count = count;
  // The three sums are divided by the count converted to single precision.
  // An empty universe gives 0/0 (NaN); no special case is made for it.
  const float n = static_cast<float>(count);
  c.x = sx / n;
  c.y = sy / n;
  c.z = sz / n;
  return c;
}

Position Model::findMarker() const {
  bool found = false;
  Position best;
  for (int i = 0; i < kBucketCount; ++i)
    for (ChainNode* node = buckets[i]; node != nullptr; node = node->next)
      for (int s = 0; s < 12; ++s) {
        const UniverseCell* cell = node->block->cells[s];
        if (cell->partType != Rotator || cell->front != 0) continue;
        if (!found) {
          best = {cell->x, cell->y, cell->z};
          found = true;
        } else if (cell->z > best.z || (cell->z == best.z && cell->y < best.y)) {
          best = {cell->x, cell->y, cell->z};
        }
      }
  return best;  // (0, 0, 0) when there is none
}

void Model::writeBlocks(std::ostream& out) const {
  for (int i = 0; i < kBucketCount; ++i)
    for (ChainNode* node = buckets[i]; node != nullptr; node = node->next) {
      const UniverseBlock* block = node->block;
      out << block->originX << ' ' << block->originY << ' ' << block->originZ << '\n';
      out << 2 << ' ' << 2 << ' ' << 3 << ' ' << '\n';
      // Box order: y outermost, then z, then x innermost.
      for (int yi = 0; yi < 2; ++yi)
        for (int zi = 0; zi < 3; ++zi)
          for (int xi = 0; xi < 2; ++xi) {
            const UniverseCell* cell = block->cells[xi * 6 + yi * 3 + zi];
            out << cell->partType << '\n';
            out << cell->front << '\n';
            out << cell->side << '\n';
            for (int d = 0; d < 6; ++d) out << ((cell->outputs >> d) & 1) << '\n';
            for (int d = 0; d < 6; ++d) out << (cell->bonds & (1 << d)) << '\n';
          }
    }
}

std::string Model::writeBlocksString() const {
  // The same text as writeBlocks, formatted without a stream (the tests call
  // this very often).  NaiveGrid.WriteBlocksStringEqualsWriteBlocks checks
  // that the two agree.
  std::string text;
  char number[16];
  auto line = [&](int32_t v) {
    const auto r = std::to_chars(number, number + sizeof number, v);
    text.append(number, r.ptr);
    text.push_back('\n');
  };
  for (int i = 0; i < kBucketCount; ++i)
    for (ChainNode* node = buckets[i]; node != nullptr; node = node->next) {
      const UniverseBlock* block = node->block;
      auto r = std::to_chars(number, number + sizeof number, block->originX);
      text.append(number, r.ptr).push_back(' ');
      r = std::to_chars(number, number + sizeof number, block->originY);
      text.append(number, r.ptr).push_back(' ');
      line(block->originZ);
      text.append("2 2 3 \n");
      for (int yi = 0; yi < 2; ++yi)
        for (int zi = 0; zi < 3; ++zi)
          for (int xi = 0; xi < 2; ++xi) {
            const UniverseCell* cell = block->cells[xi * 6 + yi * 3 + zi];
            line(cell->partType);
            line(cell->front);
            line(cell->side);
            for (int d = 0; d < 6; ++d) line((cell->outputs >> d) & 1);
            for (int d = 0; d < 6; ++d) line(cell->bonds & (1 << d));
          }
    }
  return text;
}

void Model::cleanUp() {
  for (int i = 0; i < kBucketCount; ++i) {
    ChainNode** link = &buckets[i];
    while (*link != nullptr) {
      ChainNode* node = *link;
      UniverseBlock* block = node->block;
      // Keep any block that is on any list (any listFlags bit), as well as
      // blocks with a part.  (Keeping flag-8 blocks alone gives the same
      // result: at this point the move and commit lists have been walked and
      // emptied, and every block enlisted on the move list since then was
      // also put on the next list, which has just become the current list.)
      bool keep = block->listFlags != 0;
      for (int s = 0; s < 12 && !keep; ++s)
        if (block->cells[s]->partType != 0) keep = true;
      if (keep) {
        link = &node->next;
        continue;
      }
      destroyBlock(block);
      *link = node->next;
      delete node;
    }
  }
}

// ===========================================================================
// Generation update
// ===========================================================================

void Model::evaluatePhase() {
  int32_t count = 0;
  // Walk the current list from the front; blocks appended during the walk
  // (block creation) are visited in the same walk (std::list iterators stay
  // valid and end() is re-read every time).
  std::list<UniverseBlock*>& list = *currentList;
  for (auto it = list.begin(); it != list.end(); ++it) {
    UniverseBlock* block = *it;
    // 2.1
    enlist(block, kOnCommit);
    // 2.2 / 2.3
    unsigned mask = 0;
    for (int s = 0; s < 12; ++s) {
      const bool report = applyRule(block->cells[s], block);
      if (report) {
        const int xi = s / 6, yi = (s / 3) % 2, zi = s % 3;
        mask |= (xi == 0) ? 8u : 4u;
        mask |= (yi == 0) ? 2u : 1u;
        if (zi == 0) mask |= 32u;
        if (zi == 2) mask |= 16u;
      }
    }
    // 2.4
    block->listFlags &= ~kOnCurrent;
    // 2.5
    if (mask != 0)
      wakeBlocks(block->originX / 2, block->originY / 2, block->originZ / 3, mask,
                 WakeTarget::Next);
    ++count;
  }
  activeBlockCount = count;
  list.clear();
}

void Model::movePhase() {
  for (auto it = moveList.begin(); it != moveList.end(); ++it) {
    UniverseBlock* block = *it;
    bool turned = false;
    for (int s = 0; s < 12; ++s) {
      UniverseCell* cell = block->cells[s];
      // 1.1
      if (cell->moveRequest != nullptr && !cell->moveRequest->blocked) {
        const UniverseCell* source = cell->moveSource;
        const MoveRequest* mine = cell->moveRequest;
        const MoveRequest* theirs = source->moveRequest;
        // Only the vector is compared; whether the source's request is
        // blocked is not looked at.
        if (theirs != nullptr && theirs->dx == mine->dx && theirs->dy == mine->dy &&
            theirs->dz == mine->dz) {
          cell->incomingFront = source->front;
          cell->incomingSide = source->side;
          cell->incomingUp = source->up;
          cell->incomingType = source->partType;
          cell->incomingRegion = source->region;
          cell->incomingTerminalBinding = source->terminalBinding;
          cell->incomingNextOutputs = source->nextOutputs;
          cell->incomingBonds = source->bonds;
        } else {
          cell->incomingType = 0;
          cell->incomingBonds = 0;
          cell->incomingNextOutputs = 0;
          cell->incomingRegion = nullptr;
          cell->incomingTerminalBinding = nullptr;
          // incomingFront, incomingSide, incomingUp are left as they are.
        }
      }
      // 1.2
      if (cell->rotatePending) {
        applyQuarterTurn(cell, cell->rotateAxis);
        turned = true;
      }
    }
    // 2
    block->listFlags &= ~kOnMove;
    if (turned)
      wakeBlocks(block->originX / 2, block->originY / 2, block->originZ / 3, 63,
                 WakeTarget::Next);
  }
  // 3
  moveList.clear();
}

void Model::commitPhase() {
  for (auto it = commitList.begin(); it != commitList.end(); ++it) {
    UniverseBlock* block = *it;
    bool moved = false;
    for (int s = 0; s < 12; ++s) {
      UniverseCell* cell = block->cells[s];
      // 1.1
      if (cell->moveRequest != nullptr && !cell->moveRequest->blocked) {
        cell->nextOutputs = cell->incomingNextOutputs;
        cell->region = cell->incomingRegion;
        cell->bonds = cell->incomingBonds;
        cell->terminalBinding = cell->incomingTerminalBinding;
        if (cell->terminalBinding != nullptr) {
          // moveTerminal (terminal bindings) is outside the model: terminalBinding
          // is never set here, so this branch is never taken.
        }
        cell->partType = cell->incomingType;
        cell->front = cell->incomingFront;
        cell->side = cell->incomingSide;
        cell->up = cell->incomingUp;
        // Relink the cell.
        for (int d = 0; d < 6; ++d) {
          UniverseCell* n = findCell(cell->x + kDx[d], cell->y + kDy[d], cell->z + kDz[d]);
          cell->links[d] = n;
          if (n != nullptr) n->links[kOpposite[d]] = cell;
        }
        moved = true;
      }
      // 1.2
      cell->outputs = cell->nextOutputs;
      cell->moveRequest = nullptr;
      cell->rotatePending = 0;
    }
    // 2
    block->listFlags &= ~kOnCommit;
    if (moved)
      wakeBlocks(block->originX / 2, block->originY / 2, block->originZ / 3, 63,
                 WakeTarget::Next);
  }
  // 3
  commitList.clear();
}

void Model::finishGeneration() {
  // 1
  for (MoveRequest* r : moveRequests) delete r;
  moveRequests.clear();
  // 2
  for (UniverseBlock* block : *nextList) {
    block->listFlags |= kOnCurrent;
    block->listFlags &= ~kOnNext;
  }
  // 3
  generation = generation + 1u;
  // 4
  std::list<UniverseBlock*>* t = currentList;
  currentList = nextList;
  nextList = t;
  // 5
  inputPulse = 0;
  // 6
  if (generation % 10000u == 0) cleanUp();
}

void Model::step() {
  evaluatePhase();
  movePhase();
  commitPhase();
  finishGeneration();
}

// Beyond the coordinate edge (+-1e9) no part may stand.
bool farCoordinate(int64_t v);

void Model::requestMove(int32_t k, int32_t x, int32_t y, int32_t z) {
  if (!isValidDirection(k)) return;  // callers only pass valid directions
  // 1.
  UniverseCell* c = cellForUpdate(x, y, z);
  if (c->partType == 0) return;
  // 2.
  lastMoveTarget = {x, y, z};
  // 3.
  MoveRequest* request = new MoveRequest;
  request->direction = k;
  request->dx = kDx[k];
  request->dy = kDy[k];
  request->dz = kDz[k];
  request->blocked = 0;
  moveRequests.push_back(request);
  // 4.
  std::deque<Position> queue;
  queue.push_back({x, y, z});
  while (!queue.empty()) {
    const Position q = queue.front();
    queue.pop_front();
    // The coordinate edge: a part would be carried to Q, beyond +-1e9, so
    // the claim fails before Q's block is looked up, and the request is
    // blocked like one that met a different vector.
    if (farCoordinate(q.x) || farCoordinate(q.y) || farCoordinate(q.z)) {
      request->blocked = 1;
      return;
    }
    // 4.1 the block of Q, created if missing, enlisted (4, 2, 1).
    int32_t bx, by, bz;
    blockCoordinates(q.x, q.y, q.z, bx, by, bz);
    UniverseBlock* block = lookupBlock(bx, by, bz);
    if (block == nullptr) block = createBlock(bx, by, bz);
    enlistForUpdate(block);
    // 4.2 the source cell s at Q - step(k).
    const int32_t sx = q.x - kDx[k], sy = q.y - kDy[k], sz = q.z - kDz[k];
    int32_t sbx, sby, sbz;
    blockCoordinates(sx, sy, sz, sbx, sby, sbz);
    UniverseCell* s;
    if (sbx == bx && sby == by && sbz == bz)
      s = block->cells[slotOf(sx, sy, sz)];
    else
      s = cellForUpdate(sx, sy, sz);
    // 4.3 claim the cell at Q.
    UniverseCell* cell = block->cells[slotOf(q.x, q.y, q.z)];
    unsigned yielded = 0;
    bool failed = false;
    if (cell->moveRequest == request) {
      // yields no directions
    } else if (cell->moveRequest != nullptr &&
               (cell->moveRequest->dx != request->dx || cell->moveRequest->dy != request->dy ||
                cell->moveRequest->dz != request->dz)) {
      cell->moveRequest->blocked = 1;
      failed = true;
    } else {
      cell->moveSource = s;
      cell->moveRequest = request;
      if (cell->partType != 0) yielded = (cell->bonds & 63u) | (1u << k);
    }
    // 4.4
    if (failed) {
      request->blocked = 1;
      return;  // the rest of the queue is dropped
    }
    // 4.5
    for (int d = 0; d < 6; ++d)
      if (yielded & (1u << d)) queue.push_back({q.x + kDx[d], q.y + kDy[d], q.z + kDz[d]});
  }
}

// ===========================================================================
// Rules and the quarter turn
// ===========================================================================

bool Model::inputFrom(const UniverseCell* cell, int32_t d) const {
  // A missing link is no input; otherwise the neighbour's outputs bit
  // opposite(d).
  if (!isValidDirection(d)) return false;
  const UniverseCell* n = cell->links[d];
  return n != nullptr && ((n->outputs >> kOpposite[d]) & 1) != 0;
}

bool Model::applyRule(UniverseCell* cell, UniverseBlock* /*block*/) {
  const int32_t type = cell->partType;
  if (type <= 0 || type > 10) return false;
  const int32_t front = cell->front;
  const int32_t side = cell->side;
  const int32_t up = cell->up;
  // A rule that needs an invalid field of its own does nothing and reports
  // false.  Each rule needs exactly the fields it reads:
  // front for all ten; side for NorGate, Shifter, Binder, Cutter, Drive; up
  // for NorGate only.
  if (!isValidDirection(front)) return false;
  const int32_t behind = kOpposite[front];
  const int32_t tx = cell->x + kDx[front], ty = cell->y + kDy[front], tz = cell->z + kDz[front];
  auto frontChange = [&]() {
    return (((cell->outputs ^ cell->nextOutputs) >> front) & 1) != 0;
  };
  switch (type) {
    case Conductor:
      if (inputFrom(cell, behind))
        cell->nextOutputs = static_cast<uint8_t>(63u ^ (1u << behind));
      else
        cell->nextOutputs = 0;
      return frontChange();
    case NorGate: {
      if (!isValidDirection(side) || !isValidDirection(up)) return false;
      const bool any = inputFrom(cell, behind) || inputFrom(cell, side) || inputFrom(cell, up) ||
                       inputFrom(cell, kOpposite[side]) || inputFrom(cell, kOpposite[up]);
      cell->nextOutputs = any ? 0 : static_cast<uint8_t>(1u << front);
      return frontChange();
    }
    case Pusher:
      if (inputFrom(cell, behind)) requestMove(front, tx, ty, tz);
      return false;
    case Shifter:
      if (!isValidDirection(side)) return false;
      if (inputFrom(cell, behind)) requestMove(side, tx, ty, tz);
      return false;
    case Rotator:
      if (inputFrom(cell, behind)) {
        UniverseCell* t = cellForUpdate(tx, ty, tz);
        if (t->partType != 0) {
          t->rotatePending = 1;
          t->rotateAxis = front;
        }
      }
      return false;
    case Binder:
    case Cutter:
      if (!isValidDirection(side)) return false;
      if (inputFrom(cell, behind)) {
        setBond(tx, ty, tz, side, type == Binder);
        return true;
      }
      return false;
    case PulseInput:
      if (inputPulse != 0)
        cell->nextOutputs = static_cast<uint8_t>(cell->nextOutputs | (1u << front));
      else
        cell->nextOutputs = static_cast<uint8_t>(cell->nextOutputs & ~(1u << front));
      return frontChange();
    case Source:
      cell->nextOutputs = static_cast<uint8_t>(cell->nextOutputs | (1u << front));
      return false;
    case Drive:
      if (!isValidDirection(side)) return false;
      requestMove(side, tx, ty, tz);
      return false;
    default:
      return false;
  }
}

int32_t Model::turnDirection(int32_t axis, int32_t d) {
  // An invalid axis turns nothing; an invalid field is unchanged.
  if (!isValidDirection(axis) || !isValidDirection(d)) return d;
  return kQuarterTurn[axis][d];
}

void Model::applyQuarterTurn(UniverseCell* cell, int32_t axis) {
  if (!isValidDirection(axis)) return;  // R_k with invalid k: no turn
  // 1. nextOutputs: bit d moves to R_k(d); bits 6 and 7 are dropped.
  uint8_t turned = 0;
  for (int d = 0; d < 6; ++d)
    if (cell->nextOutputs & (1u << d))
      turned = static_cast<uint8_t>(turned | (1u << kQuarterTurn[axis][d]));
  cell->nextOutputs = turned;
  // 2. front, side, up.
  cell->front = turnDirection(axis, cell->front);
  cell->side = turnDirection(axis, cell->side);
  cell->up = turnDirection(axis, cell->up);
  // 3. outputs and bonds are not turned.
}

// ===========================================================================
// Regions
// ===========================================================================

RegionEntry* Model::openRegion(const std::string& name, RegionEntry* current) {
  RegionEntry* entry = new RegionEntry;
  entry->path = current != nullptr ? current->path + "." + name : name;
  entry->parent = current;
  entry->visible = 1;
  entry->ticked = 1;
  regionEntries.push_back(entry);
  return entry;
}

// ===========================================================================
// Grid reader
// ===========================================================================

namespace {

// Reads one word.  A word longer than 127 characters ends the read like a
// failed read.
bool readWord(std::istream& in, std::string& word) {
  if (!(in >> word)) return false;
  if (word.size() > 127) {
    in.setstate(std::ios::failbit);
    return false;
  }
  return true;
}

}  // namespace

bool farCoordinate(int64_t v) { return v > 1000000000 || v < -1000000000; }

int Model::readGrid(std::istream& in) {
  RegionEntry* current = nullptr;
  int32_t x0 = 0;
  bool boxReady = false;
  int skipped = 0;
  bool stop = false;

  // 1. While the stream has not failed, read a word w.
  while (!stop && !in.fail()) {
    std::string w;
    if (!readWord(in, w)) break;
    if (w != "record") {
      // 2.
      x0 = leadingInteger(w);
      boxReady = true;
    } else {
      // 3.
      std::string k;
      if (!readWord(in, k)) break;
      if (k == "region") {
        if (!(in >> x0)) break;
        boxReady = true;
      } else if (k == "identifier") {
        std::string n;
        // When the name itself cannot be read, no entry is made.
        if (!readWord(in, n)) break;
        current = openRegion(n, current);
        boxReady = false;
        continue;
      } else if (k == "up") {
        if (current != nullptr) current = current->parent;
        boxReady = false;
        continue;
      } else {
        if (!boxReady) continue;
        // else: step 4 with the remembered x0
      }
    }
    // 4.
    int32_t y0 = 0, z0 = 0;
    uint32_t nx = 0, ny = 0, nz = 0;
    in >> y0 >> z0 >> nx >> ny >> nz;
    if (in.fail()) break;
    // A zero count makes an empty box; the other counts are not looped
    // over.
    if (nx == 0 || ny == 0 || nz == 0) continue;
    // 5.
    for (uint32_t iy = 0; iy < ny && !stop; ++iy)
      for (uint32_t iz = 0; iz < nz && !stop; ++iz)
        for (uint32_t ix = 0; ix < nx && !stop; ++ix) {
          int32_t type = 0, front = 0, side = 0;
          int32_t outputValues[6] = {0, 0, 0, 0, 0, 0};
          int32_t bondValues[6] = {0, 0, 0, 0, 0, 0};
          in >> type >> front >> side;
          for (int d = 0; d < 6; ++d) in >> outputValues[d];
          for (int d = 0; d < 6; ++d) in >> bondValues[d];
          if (in.fail()) {
            // Stop at the failed read: the cut-off cell is not placed and
            // the load ends (the two passes below still run).
            stop = true;
            break;
          }
          if (type == 0) continue;  // no cell at this position
          const int64_t cx = int64_t(x0) + ix;
          const int64_t cy = int64_t(y0) + iy;
          const int64_t cz = int64_t(z0) + iz;
          if (farCoordinate(cx) || farCoordinate(cy) || farCoordinate(cz)) {
            ++skipped;  // such parts are skipped and counted
            continue;
          }
          UniverseCell* cell = new UniverseCell;
          cell->partType = type;
          cell->front = front;
          cell->side = side;
          cell->up = upRule(front, side);
          cell->x = static_cast<int32_t>(cx);
          cell->y = static_cast<int32_t>(cy);
          cell->z = static_cast<int32_t>(cz);
          cell->nextOutputs = 0;
          for (int d = 0; d < 6; ++d)
            if (outputValues[d] != 0) cell->outputs = static_cast<uint8_t>(cell->outputs | (1u << d));
          for (int d = 0; d < 6; ++d)
            if (bondValues[d] != 0)
              cell->bonds = static_cast<uint8_t>(cell->bonds | (1u << d));
            else
              cell->bonds = static_cast<uint8_t>(cell->bonds & ~(1u << d));
          if (current != nullptr) cell->region = current;
          placeCell(cell);
        }
    // 6. back to step 1
  }

  // 7. checkBonds on every block, then relinkBlock on every block, both in
  // bucket order and chain order.
  for (int i = 0; i < kBucketCount; ++i)
    for (ChainNode* node = buckets[i]; node != nullptr; node = node->next) checkBonds(node->block);
  for (int i = 0; i < kBucketCount; ++i)
    for (ChainNode* node = buckets[i]; node != nullptr; node = node->next)
      relinkBlock(node->block);

  skippedParts += skipped;
  return skipped;
}

int Model::readGridText(const std::string& text) {
  std::istringstream in(text);
  return readGrid(in);
}

// ===========================================================================
// Inspection helpers
// ===========================================================================

UniverseCell* Model::peekCell(int32_t x, int32_t y, int32_t z) const {
  int32_t bx, by, bz;
  blockCoordinates(x, y, z, bx, by, bz);
  UniverseBlock* block = lookupBlock(bx, by, bz);
  return block != nullptr ? block->cells[slotOf(x, y, z)] : nullptr;
}

size_t Model::blockCount() const {
  size_t n = 0;
  for (int i = 0; i < kBucketCount; ++i)
    for (ChainNode* node = buckets[i]; node != nullptr; node = node->next) ++n;
  return n;
}

bool Model::onList(const std::list<UniverseBlock*>& list, const UniverseBlock* block) {
  for (const UniverseBlock* b : list)
    if (b == block) return true;
  return false;
}

std::string Model::checkInvariants() const {
  std::ostringstream problems;
  const std::list<UniverseBlock*>* lists[4] = {nextList, &commitList, &moveList, currentList};
  const uint32_t flags[4] = {kOnNext, kOnCommit, kOnMove, kOnCurrent};
  std::unordered_map<const UniverseBlock*, int> counts[4];
  for (int f = 0; f < 4; ++f)
    for (const UniverseBlock* x : *lists[f]) ++counts[f][x];
  for (int i = 0; i < kBucketCount; ++i)
    for (ChainNode* node = buckets[i]; node != nullptr; node = node->next) {
      const UniverseBlock* b = node->block;
      if (bucketOf(b->originX / 2, b->originY / 2, b->originZ / 3) != static_cast<uint32_t>(i))
        problems << "block in wrong bucket\n";
      for (int f = 0; f < 4; ++f) {
        const auto it = counts[f].find(b);
        const int occurrences = it == counts[f].end() ? 0 : it->second;
        const bool flagged = (b->listFlags & flags[f]) != 0;
        if (occurrences > 1 || flagged != (occurrences == 1))
          problems << "flag " << flags[f] << " disagrees with list for block " << b->originX
                   << ' ' << b->originY << ' ' << b->originZ << '\n';
      }
      for (int s = 0; s < 12; ++s) {
        const UniverseCell* c = b->cells[s];
        const int xi = s / 6, yi = (s / 3) % 2, zi = s % 3;
        if (c->x != b->originX + xi || c->y != b->originY + yi || c->z != b->originZ + zi)
          problems << "cell coordinates disagree with slot\n";
        for (int d = 0; d < 6; ++d) {
          const UniverseCell* n = c->links[d];
          if (n == nullptr) continue;
          if (n->links[kOpposite[d]] != c)
            problems << "asymmetric link at " << c->x << ' ' << c->y << ' ' << c->z << " dir "
                     << d << '\n';
          if (n->x != c->x + kDx[d] || n->y != c->y + kDy[d] || n->z != c->z + kDz[d])
            problems << "link to a non-neighbour\n";
        }
      }
    }
  // every listed block is in the hash
  for (int f = 0; f < 4; ++f)
    for (const auto& [block, n] : counts[f])
      if (lookupBlock(block->originX / 2, block->originY / 2, block->originZ / 3) != block)
        problems << "a listed block is not in the hash\n";
  return problems.str();
}

UniverseCell* Model::placePart(int32_t x, int32_t y, int32_t z, int32_t type, int32_t front,
                               int32_t side, uint8_t outputs, uint8_t bonds,
                               RegionEntry* region) {
  UniverseCell* cell = new UniverseCell;
  cell->partType = type;
  cell->front = front;
  cell->side = side;
  cell->up = upRule(front, side);
  cell->x = x;
  cell->y = y;
  cell->z = z;
  cell->nextOutputs = 0;
  cell->outputs = outputs;
  cell->bonds = bonds;
  cell->region = region;
  placeCell(cell);
  return cell;
}

}  // namespace naive
