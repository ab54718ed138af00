// Stimulus timing, part events, skip-ahead and binding lifetimes.
#include <random>
#include <sstream>

#include "files/stimulus.h"
#include "files/terminals.h"
#include "test_util.h"
#include "universe/universe.h"

namespace {

class StimulusTest : public ::testing::Test {
protected:
    // Terminal "t" at (2, 3, 4) facing +x: the stimulus drives it from (3, 3, 4).
    void SetUp() override {
        std::istringstream in("t 2 3 4 1 0\nother 9 9 9 0 0\n");
        table = readTerminalFile(in);
    }
    std::unique_ptr<Stimulus> read(const std::string& text) {
        std::istringstream in(text);
        return readStimulusFile(in, table.get(), u);
    }
    // Applies one generation and tells whether a signal was injected into t.
    bool injectedThisGeneration(Stimulus& s) {
        applyStimulus(s, &u);
        CellRef n = u.findCell(3, 3, 4);
        if (!n) return false;
        const bool on = n.core().outputs & (1u << 3);
        n.core().outputs = 0;
        return on;
    }
    std::string pattern(Stimulus& s, int generations) {
        std::string p;
        for (int g = 0; g < generations; ++g) p += injectedThisGeneration(s) ? '1' : '0';
        return p;
    }
    CellRef terminalCell() { return u.findCell(2, 3, 4); }

    Universe u;
    std::unique_ptr<TerminalTable> table;
};

}  // namespace

TEST_F(StimulusTest, LoopedBlockRepeatsWithItsPeriod) {
    auto s = read("t { t=0 0 1 1 1 loop }");
    ASSERT_EQ(s->channels.size(), 1u);
    EXPECT_EQ(pattern(*s, 9), "001010101");
}

TEST_F(StimulusTest, UnloopedBlockStopsAfterItsLastEvent) {
    auto s = read("t { t=0 0 1 1 1 }");
    EXPECT_EQ(pattern(*s, 8), "00100000");
}

TEST_F(StimulusTest, RunningTimeFollowsTAndBWordsAndDelays) {
    auto s = read("t { 1 2 t=10 0 5 b=100 3 0 1 1 1 0 -1 t=abc 1 0 }");
    const auto& ch = *s->channels.at(0);
    std::vector<uint32_t> times;
    std::string on;
    for (const BitEvent& e : ch.bitEvents) {
        times.push_back(e.time);
        on += e.on ? '1' : '0';
    }
    // b= sets the running time; a negative delay goes back; "t=abc" is time 0.
    EXPECT_EQ(times, (std::vector<uint32_t>{2, 15, 101, 100, 0}));
    EXPECT_EQ(on, "10101");
    ASSERT_EQ(ch.partEvents.size(), 1u);
    EXPECT_EQ(ch.partEvents[0].time, 100u);
    EXPECT_EQ(ch.partEvents[0].partType, 3);
    EXPECT_EQ(ch.partEvents[0].side, 1);
    EXPECT_EQ(ch.loop, 0);
}

TEST_F(StimulusTest, FirstEventOfADelayOneListLastsTwoGenerations) {
    auto s = read("t { t=0 1 1 0 1 1 1 1 1 }");
    EXPECT_EQ(pattern(*s, 6), "110110");
}

TEST_F(StimulusTest, PartEventPlacesAnOrientedPartAtItsClock) {
    auto s = read("t { b=5 2 0 1 }");
    for (int g = 0; g < 5; ++g) {
        applyStimulus(*s, &u);
        CellRef c = terminalCell();
        ASSERT_TRUE(c);
        EXPECT_EQ(c.block->partType(c.slot), 0) << "generation " << g;
    }
    applyStimulus(*s, &u);
    CellRef c = terminalCell();
    EXPECT_EQ(c.block->partType(c.slot), 2);
    EXPECT_EQ(c.block->front(c.slot), 0);
    EXPECT_EQ(c.block->side(c.slot), 1);
    EXPECT_EQ(c.block->up(c.slot), 4);
}

TEST_F(StimulusTest, PastPartEventHoldsBackLaterOnes) {
    auto s = read("t { b=3 9 0 1 b=1 1 0 1 b=4 2 0 1 }");
    for (int g = 0; g < 10; ++g) applyStimulus(*s, &u);
    const auto& ch = *s->channels[0];
    EXPECT_EQ(ch.partIndex, 1u);
    CellRef c = terminalCell();
    EXPECT_EQ(c.block->partType(c.slot), 9);
}

TEST_F(StimulusTest, TwoBlocksOnOneTerminalBothActAndTheLaterBinds) {
    auto s = read("t { t=0 1 3 } t { t=0 0 1 1 1 }");
    ASSERT_EQ(s->channels.size(), 2u);
    CellRef c = terminalCell();
    EXPECT_EQ(c.block->terminalBinding(c.slot), s->channels[1].get());
    // First: on through clock 3. Second: on at clock 2.
    EXPECT_EQ(pattern(*s, 6), "111100");
}

TEST_F(StimulusTest, UnknownTerminalAndMissingTableKeepChannelsThatNeverAct) {
    auto s = read("nosuch { b=0 1 0 1 1 1 }");
    ASSERT_EQ(s->channels.size(), 1u);
    EXPECT_EQ(s->channels[0]->terminal, nullptr);
    applyStimulus(*s, &u);
    EXPECT_EQ(u.blockCount(), 0u);
    EXPECT_EQ(s->channels[0]->clock, 1u);

    std::istringstream in("t { 1 1 }");
    auto s2 = readStimulusFile(in, nullptr, u);
    ASSERT_EQ(s2->channels.size(), 1u);
    EXPECT_EQ(s2->channels[0]->terminal, nullptr);
}

TEST_F(StimulusTest, ReadingStopsAtABlockWithoutBrace) {
    auto s = read("t { 1 1 } other ( 1 1 ) t { 1 1 }");
    EXPECT_EQ(s->channels.size(), 1u);
}

TEST_F(StimulusTest, CutOffBlockIsDroppedAndItsBindingUndone) {
    auto s = read("t { 1 1 } t { 1 1 0");
    ASSERT_EQ(s->channels.size(), 1u);
    CellRef c = terminalCell();
    EXPECT_EQ(c.block->terminalBinding(c.slot), s->channels[0].get()) << "the earlier binding comes back";

    auto s2 = read("other { b=4 1 0");
    EXPECT_EQ(s2->channels.size(), 0u);
    CellRef o = u.findCell(9, 9, 9);
    ASSERT_TRUE(o);
    EXPECT_EQ(o.block->terminalBinding(o.slot), nullptr);
}

TEST_F(StimulusTest, DestroyingAStimulusUnbindsOnlyItsOwnCells) {
    auto first = read("t { 1 1 }");
    auto second = read("other { 1 1 }");
    first.reset();
    EXPECT_EQ(terminalCell().block->terminalBinding(terminalCell().slot), nullptr);
    CellRef o = u.findCell(9, 9, 9);
    EXPECT_EQ(o.block->terminalBinding(o.slot), second->channels[0].get());
}

TEST_F(StimulusTest, MoveTerminalFollowsThePartAndReportsTheTrackedName) {
    auto s = read("t { 1 1 }");
    StimulusChannel* ch = s->channels[0].get();
    EXPECT_FALSE(moveTerminal(ch, 1));
    EXPECT_EQ(table->at(0).x, 3);
    EXPECT_FALSE(moveTerminal(ch, 5));
    EXPECT_EQ(table->at(0).z, 3);
    EXPECT_FALSE(moveTerminal(ch, 9)) << "an invalid direction moves nothing";
    EXPECT_EQ(table->at(0).z, 3);

    table->at(0).name = kTrackedTerminalName;
    EXPECT_TRUE(moveTerminal(ch, 0));
    EXPECT_EQ(table->at(0).y, 4);
}

TEST_F(StimulusTest, SkipAheadMovesClocksWithoutTouchingTheUniverse) {
    auto s = read("t { t=0 0 1 1 1 loop b=2 1 0 1 }");
    const size_t blocks = u.blockCount();
    advanceStimulus(*s, 3);
    EXPECT_EQ(u.blockCount(), blocks);
    CellRef c = terminalCell();
    EXPECT_EQ(c.block->partType(c.slot), 0);
    EXPECT_EQ(s->channels[0]->clock, 3u);
    EXPECT_EQ(s->channels[0]->partIndex, 1u) << "the part event fell due during the skip";
    // The first applied generation sees clock 3: the loop pattern continues at generation 3.
    EXPECT_EQ(pattern(*s, 4), "0101");
}

// The jumping skip-ahead must agree with single steps, whatever the events.
TEST(StimulusSkipAhead, AgreesWithSingleStepsOnRandomChannels) {
    std::mt19937 rng(12345);
    for (int round = 0; round < 400; ++round) {
        StimulusChannel a;
        const int nb = int(rng() % 5), np = int(rng() % 4);
        for (int i = 0; i < nb; ++i)
            a.bitEvents.push_back(BitEvent{uint32_t(rng() % 40), uint8_t(rng() & 1)});
        for (int i = 0; i < np; ++i) a.partEvents.push_back(PartEvent{uint32_t(rng() % 60), 1, 0, 1});
        a.loop = rng() & 1;
        a.clock = (rng() % 4 == 0) ? uint32_t(0xFFFFFFF0u + rng() % 16) : uint32_t(rng() % 30);
        a.bitIndex = nb ? uint32_t(rng() % nb) : 0;
        const uint64_t count = rng() % 300;

        Stimulus stepped, jumped;
        stepped.channels.push_back(std::make_unique<StimulusChannel>(a));
        jumped.channels.push_back(std::make_unique<StimulusChannel>(a));
        for (uint64_t i = 0; i < count; ++i) applyStimulus(stepped, nullptr);
        advanceStimulus(jumped, count);
        const StimulusChannel &x = *stepped.channels[0], &y = *jumped.channels[0];
        ASSERT_EQ(x.clock, y.clock) << "round " << round;
        ASSERT_EQ(x.bitIndex, y.bitIndex) << "round " << round;
        ASSERT_EQ(x.partIndex, y.partIndex) << "round " << round;
    }
}

TEST(StimulusSkipAhead, HugeCountsFinish) {
    Stimulus s;
    auto ch = std::make_unique<StimulusChannel>();
    for (uint32_t t = 1; t <= 256; ++t) ch->bitEvents.push_back(BitEvent{t, uint8_t(t & 1)});
    ch->partEvents.push_back(PartEvent{4000000000u, 1, 0, 1});
    ch->loop = 1;
    s.channels.push_back(std::move(ch));
    advanceStimulus(s, 4294967295ull);
    EXPECT_EQ(s.channels[0]->clock, 4294967295u);
    EXPECT_EQ(s.channels[0]->partIndex, 1u);
}
