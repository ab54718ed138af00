// naive_model.h - a deliberately naive, literal reference model of the
// universe engine: the data model, the generation update, the rules and the
// quarter turn, the grid reader and written form, and regions.
//
// This is a test oracle.  It is written independently of the fast engine and
// models every step directly: real cell objects with six link pointers,
// blocks of 12 cells, 99991 hash buckets with singly linked chain nodes,
// insertion-ordered doubly linked lists for the worklists, MoveRequest
// objects, the four phases, the ten rules and the quarter-turn table.
// Clarity and directness are the only goals; speed is not.
//
// Corner cases where the behaviour is a deliberate choice (invalid
// directions, malformed grid files, far coordinates, ...) are explained in a
// comment where they are handled.
#pragma once

#include <cstdint>
#include <iosfwd>
#include <list>
#include <string>
#include <vector>

namespace naive {

// ---------------------------------------------------------------------------
// Direction table.  0..5 = +y, +x, -y, -x, +z, -z.
inline constexpr int32_t kDx[6] = {0, 1, 0, -1, 0, 0};
inline constexpr int32_t kDy[6] = {1, 0, -1, 0, 0, 0};
inline constexpr int32_t kDz[6] = {0, 0, 0, 0, 1, -1};
inline constexpr int32_t kOpposite[6] = {2, 3, 0, 1, 5, 4};

// Quarter turn table, kQuarterTurn[k][d] = R_k(d): direction d turned by
// +90 degrees (right-handed) about direction k.  One row per axis.
inline constexpr int32_t kQuarterTurn[6][6] = {
    {0, 5, 2, 4, 1, 3},  // axis 0 (+y)
    {4, 1, 5, 3, 2, 0},  // axis 1 (+x)
    {0, 4, 2, 5, 3, 1},  // axis 2 (-y)
    {5, 1, 4, 3, 0, 2},  // axis 3 (-x)
    {3, 0, 1, 2, 4, 5},  // axis 4 (+z)
    {1, 2, 3, 0, 4, 5},  // axis 5 (-z)
};

inline constexpr int kBucketCount = 99991;

// Listflags bits.
inline constexpr uint32_t kOnNext = 1;
inline constexpr uint32_t kOnCommit = 2;
inline constexpr uint32_t kOnMove = 4;
inline constexpr uint32_t kOnCurrent = 8;

// Part types.
enum PartType : int32_t {
  Empty = 0,
  Conductor = 1,
  NorGate = 2,
  Pusher = 3,
  Shifter = 4,
  Rotator = 5,
  Binder = 6,
  Cutter = 7,
  PulseInput = 8,
  Source = 9,
  Drive = 10,
};

// True for a direction index that may be used to index the direction table.
bool isValidDirection(int32_t d);

// The up rule: up derived from front and side ("mod" is the remainder of
// truncating division).
// Computed in 64-bit so that absurd inputs do not overflow.
int32_t upRule(int32_t front, int32_t side);

// True floor division / modulo (used for block coordinates and slots).
int64_t floorDiv(int64_t a, int64_t b);
int64_t floorMod(int64_t a, int64_t b);

// Leading-integer conversion: optional white space, optional sign, digits;
// stops at the first other character; 0 when there are no digits.  Values
// beyond the 32-bit range saturate (the original platform's atoi/strtol had
// a 32-bit long, which saturates).
int32_t leadingInteger(const std::string& word);

// ---------------------------------------------------------------------------
// Region entry.
struct RegionEntry {
  std::string path;
  RegionEntry* parent = nullptr;
  uint8_t visible = 1;
  uint8_t ticked = 1;
};

// Move request.
struct MoveRequest {
  int32_t direction = 0;
  int32_t dx = 0, dy = 0, dz = 0;
  uint8_t blocked = 0;
};

// One lattice site, with the per-generation move, incoming and rotate
// fields kept in the cell itself.
struct UniverseCell {
  int32_t front = 0;
  int32_t side = 1;
  int32_t up = 4;
  int32_t partType = 0;
  int32_t x = 0, y = 0, z = 0;
  uint8_t nextOutputs = 0;
  uint8_t outputs = 0;
  UniverseCell* links[6] = {nullptr, nullptr, nullptr, nullptr, nullptr, nullptr};
  uint8_t bonds = 0;
  MoveRequest* moveRequest = nullptr;
  UniverseCell* moveSource = nullptr;
  // The incoming fields of every newly made cell start as
  // type 0, front 0, side 1, up 4 (and nothing else incoming).
  int32_t incomingFront = 0;
  int32_t incomingSide = 1;
  int32_t incomingUp = 4;
  int32_t incomingType = 0;
  uint8_t incomingNextOutputs = 0;
  uint8_t incomingBonds = 0;
  RegionEntry* incomingRegion = nullptr;
  void* incomingTerminalBinding = nullptr;
  uint8_t rotatePending = 0;
  int32_t rotateAxis = 0;
  RegionEntry* region = nullptr;
  void* terminalBinding = nullptr;  // never set in the model (stays null)
};

class Model;

// Block of 2 x 2 x 3 cells.
struct UniverseBlock {
  int32_t originX = 0, originY = 0, originZ = 0;
  UniverseCell* cells[12] = {};
  Model* universe = nullptr;
  uint32_t listFlags = 0;
};

// Node of a hash chain: a block reference and a next reference.
struct ChainNode {
  UniverseBlock* block = nullptr;
  ChainNode* next = nullptr;
};

// Result of the centroid query.
struct Centroid {
  double x = 0, y = 0, z = 0;
  int count = 0;
};

struct Position {
  int32_t x = 0, y = 0, z = 0;
  bool operator==(const Position& o) const { return x == o.x && y == o.y && z == o.z; }
};

enum class WakeTarget { Current, Next };

// ---------------------------------------------------------------------------
// The universe.
class Model {
 public:
  Model();
  ~Model();
  Model(const Model&) = delete;
  Model& operator=(const Model&) = delete;

  // --- fields -------------------------------------------------------------
  uint8_t inputPulse = 0;
  std::vector<ChainNode*> buckets;              // 99991 chain heads
  std::list<MoveRequest*> moveRequests;         // owned
  std::list<UniverseBlock*> blockLists[2];      // storage of the active lists
  std::list<UniverseBlock*>* currentList;       // flag 8
  std::list<UniverseBlock*>* nextList;          // flag 1
  std::list<UniverseBlock*> moveList;           // flag 4
  std::list<UniverseBlock*> commitList;         // flag 2
  uint32_t generation = 0;
  int32_t drawnCellCount = 0;
  Position lastMoveTarget;
  int32_t activeBlockCount = 0;
  std::list<RegionEntry*> regionEntries;        // owned, file order
  uint8_t trackedMoved = 0;
  int32_t trackedDirection = 0;

  // Conflict messages of placeCell, in the order they were shown.
  std::vector<std::string> conflictMessages;
  // Parts skipped by readGrid because a coordinate exceeded 1e9 in
  // absolute value, summed over all loads.
  int skippedParts = 0;

  // --- operations ---------------------------------------------------------
  void placeCell(UniverseCell* cell);
  UniverseCell* cellForUpdate(int32_t x, int32_t y, int32_t z);
  UniverseCell* findCell(int32_t x, int32_t y, int32_t z);
  bool testOutput(int32_t x, int32_t y, int32_t z, int32_t direction) const;
  void injectSignal(int32_t x, int32_t y, int32_t z, int32_t direction);
  void setBond(int32_t x, int32_t y, int32_t z, int32_t direction, bool on);
  void linkCell(UniverseCell* cell);
  void relinkBlock(UniverseBlock* block);
  void checkBonds(UniverseBlock* block);
  void wakeBlocks(int32_t bx, int32_t by, int32_t bz, unsigned mask, WakeTarget target);
  Centroid centroid() const;
  Position findMarker() const;
  void writeBlocks(std::ostream& out) const;
  std::string writeBlocksString() const;
  void cleanUp();

  // --- generation update --------------------------------------------------
  void evaluatePhase();
  void movePhase();
  void commitPhase();
  void finishGeneration();
  // One generation: the four phases in order.
  void step();
  void requestMove(int32_t direction, int32_t x, int32_t y, int32_t z);

  // --- rules and the quarter turn -----------------------------------------
  bool applyRule(UniverseCell* cell, UniverseBlock* block);
  static void applyQuarterTurn(UniverseCell* cell, int32_t axis);
  static int32_t turnDirection(int32_t axis, int32_t d);  // R_k(d), d unchanged if invalid

  // --- regions ------------------------------------------------------------
  RegionEntry* openRegion(const std::string& name, RegionEntry* current);

  // --- grid reader --------------------------------------------------------
  // Reads a grid; returns the number of parts skipped in this load.
  int readGrid(std::istream& in);
  int readGridText(const std::string& text);

  // --- inspection helpers for tests (no enlisting, no creation) -----------
  static void blockCoordinates(int32_t x, int32_t y, int32_t z, int32_t& bx, int32_t& by,
                               int32_t& bz);
  static int slotOf(int32_t x, int32_t y, int32_t z);
  static uint32_t bucketOf(int32_t bx, int32_t by, int32_t bz);
  UniverseBlock* lookupBlock(int32_t bx, int32_t by, int32_t bz) const;
  UniverseCell* peekCell(int32_t x, int32_t y, int32_t z) const;
  size_t blockCount() const;
  static bool onList(const std::list<UniverseBlock*>& list, const UniverseBlock* block);
  // Checks link symmetry, slot coordinates and listFlags/list agreement;
  // returns an empty string when everything holds.
  std::string checkInvariants() const;

  // Makes a new cell as the grid reader does (up from the up rule,
  // nextOutputs 0, everything else as in a new cell) and places it.
  UniverseCell* placePart(int32_t x, int32_t y, int32_t z, int32_t type, int32_t front = 0,
                          int32_t side = 1, uint8_t outputs = 0, uint8_t bonds = 0,
                          RegionEntry* region = nullptr);

 private:
  UniverseBlock* createBlock(int32_t bx, int32_t by, int32_t bz);
  void insertBlock(UniverseBlock* block);
  void enlist(UniverseBlock* block, uint32_t flag);
  void enlistForUpdate(UniverseBlock* block);  // move, commit, next (4, 2, 1)
  std::list<UniverseBlock*>& listForFlag(uint32_t flag);
  void destroyBlock(UniverseBlock* block);
  bool inputFrom(const UniverseCell* cell, int32_t d) const;
};

}  // namespace naive
