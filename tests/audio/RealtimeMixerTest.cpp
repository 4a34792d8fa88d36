#include "RealtimeMixer.h"
#include "ClockDriftSimulation.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <complex>
#include <functional>
#include <limits>
#include <numbers>
#include <ostream>
#include <random>
#include <string>
#include <thread>
#include <vector>

namespace {

constexpr double kRate = 7000.0;
constexpr std::size_t kBlock = 70;
constexpr float kAmplitude = 0.25f;
constexpr RoutingMatrix kSilent = {0, 0, 0, 0};
constexpr RoutingMatrix kBothEars = {1, 1, 1, 1};
constexpr RoutingMatrix kLeftEar = {1, 1, 0, 0};
constexpr RoutingMatrix kRightEar = {0, 0, 1, 1};

// Mono radios (the same signal on both channels of a capture) feeding the
// mixer in lockstep: every block pushes one block per radio, then renders one.
class Radios {
  public:
    using Signal = std::function<float(std::size_t frame)>;

    explicit Radios(std::vector<Signal> signals) : signals_(std::move(signals))
    {
        for (std::size_t i = 0; i < signals_.size(); ++i)
            inputs.push_back(mixer.attachInput());
    }

    // Plays `seconds`, or as long as `pushing` says, and returns what was heard.
    std::vector<float> play(double seconds, bool pushing = true)
    {
        std::vector<float> heard;
        std::vector<float> block(kBlock * 2);
        for (auto blocks = static_cast<std::size_t>(seconds * kRate / kBlock); blocks; --blocks) {
            for (std::size_t radio = 0; pushing && radio < inputs.size(); ++radio) {
                for (std::size_t i = 0; i < kBlock; ++i)
                    block[2 * i] = block[2 * i + 1] = signals_[radio](frame_ + i);
                mixer.push(inputs[radio], block.data(), kBlock);
            }
            frame_ += kBlock;
            mixer.render(block.data(), kBlock);
            heard.insert(heard.end(), block.begin(), block.end());
        }
        return heard;
    }

    RealtimeMixer mixer{RealtimeMixer::Config{}};
    std::vector<int> inputs;

  private:
    std::vector<Signal> signals_;
    std::size_t frame_ = 0;
};

Radios::Signal tone(double hertz)
{
    return [hertz](std::size_t frame) {
        return kAmplitude * static_cast<float>(std::sin(2.0 * std::numbers::pi * hertz *
                                                        static_cast<double>(frame) / kRate));
    };
}

Radios::Signal constant(float level)
{
    return [level](std::size_t) { return level; };
}

// Level of a `hertz` tone in one ear over the last `seconds` heard, in units of
// a radio's own level.
double level(const std::vector<float> &heard, int ear, double hertz, double seconds)
{
    const auto frames = static_cast<std::size_t>(seconds * kRate);
    const std::size_t first = heard.size() / 2 - frames;
    std::complex<double> sum;
    for (std::size_t i = 0; i < frames; ++i)
        sum += static_cast<double>(heard[2 * (first + i) + static_cast<std::size_t>(ear)]) *
               std::polar(1.0, -2.0 * std::numbers::pi * hertz * static_cast<double>(i) / kRate);
    return 2.0 * std::abs(sum) / static_cast<double>(frames) / kAmplitude;
}

double largestStep(const std::vector<float> &heard)
{
    double largest = 0.0;
    for (std::size_t i = 2; i < heard.size(); ++i)
        largest = std::max(largest, static_cast<double>(std::abs(heard[i] - heard[i - 2])));
    return largest;
}

constexpr double kRadio1Hz = 400.0;
constexpr double kRadio2Hz = 1100.0;

struct Route {
    const char *name;
    RoutingMatrix radio1, radio2;
    double radio1Left, radio1Right, radio2Left, radio2Right;
};

void PrintTo(const Route &route, std::ostream *out)
{
    *out << route.name;
}

class RouteTest : public testing::TestWithParam<Route> {};

TEST_P(RouteTest, EachEarHearsTheRadiosOfItsRoute)
{
    const Route route = GetParam();
    Radios radios({tone(kRadio1Hz), tone(kRadio2Hz)});
    radios.mixer.setMatrix(radios.inputs[0], route.radio1);
    radios.mixer.setMatrix(radios.inputs[1], route.radio2);
    const auto heard = radios.play(1.0);
    // A radio at full level on both capture channels sums to twice its level.
    EXPECT_NEAR(level(heard, 0, kRadio1Hz, 0.4), route.radio1Left, 0.02);
    EXPECT_NEAR(level(heard, 1, kRadio1Hz, 0.4), route.radio1Right, 0.02);
    EXPECT_NEAR(level(heard, 0, kRadio2Hz, 0.4), route.radio2Left, 0.02);
    EXPECT_NEAR(level(heard, 1, kRadio2Hz, 0.4), route.radio2Right, 0.02);
    EXPECT_EQ(radios.mixer.underrunFrames(), 0U);
}

INSTANTIATE_TEST_SUITE_P(Routes, RouteTest,
                         testing::Values(Route{"Rig1", kBothEars, kSilent, 2, 2, 0, 0},
                                         Route{"Rig12", kLeftEar, kRightEar, 2, 0, 0, 2},
                                         Route{"Rig2", kSilent, kBothEars, 0, 0, 2, 2}),
                         [](const auto &info) { return std::string(info.param.name); });

// The headphones' own monitor chosen as a radio's input: each pass doubles
// what comes round.
TEST(RealtimeMixer, OutputFedBackIntoAnInputStaysFinite)
{
    RealtimeMixer mixer{RealtimeMixer::Config{}};
    const int input = mixer.attachInput();
    mixer.setMatrix(input, kBothEars);
    std::vector<float> block(kBlock * 2, kAmplitude);
    for (int pass = 0; pass < 2000; ++pass) {
        mixer.push(input, block.data(), kBlock);
        mixer.render(block.data(), kBlock);
    }
    EXPECT_TRUE(std::ranges::all_of(
        block, [](float sample) { return std::abs(sample) <= RealtimeMixer::kMaxSample; }));
}

TEST(RealtimeMixer, MuteSilencesAndUnmuteBringsTheRouteBack)
{
    Radios radios({tone(kRadio1Hz), tone(kRadio2Hz)});
    radios.mixer.setMatrix(radios.inputs[0], kLeftEar);
    radios.mixer.setMatrix(radios.inputs[1], kRightEar);
    radios.play(0.5);

    for (int input : radios.inputs)
        radios.mixer.setPaused(input, true);
    const auto muted = radios.play(0.5);
    EXPECT_TRUE(std::all_of(muted.end() - 2000, muted.end(), [](float x) { return x == 0.0f; }));

    for (int input : radios.inputs)
        radios.mixer.setPaused(input, false);
    // Back at once (after the ramp), with nothing stale: the delay held.
    const auto resumed = radios.play(0.2);
    EXPECT_NEAR(level(resumed, 0, kRadio1Hz, 0.1), 2.0, 0.02);
    EXPECT_NEAR(level(resumed, 1, kRadio2Hz, 0.1), 2.0, 0.02);
    EXPECT_NEAR(level(resumed, 0, kRadio2Hz, 0.1), 0.0, 0.02);
    EXPECT_EQ(radios.mixer.matrix(radios.inputs[0]), kLeftEar);
    EXPECT_EQ(radios.mixer.underrunFrames(), 0U);
    EXPECT_EQ(radios.mixer.overflowFrames(), 0U); // drained while muted
}

TEST(RealtimeMixer, ChangesRampFromTheNextBlockWithoutAStep)
{
    Radios radios({constant(0.5f)});
    RealtimeMixer &mixer = radios.mixer;
    const int input = radios.inputs[0];
    const auto before = radios.play(0.5);
    const float steady = before.back();
    ASSERT_NEAR(steady, 0.5f, 0.01f);
    // Over 5 ms (35 frames) the largest change below, 0 to both channels at
    // once, may move a sample by 1/35 of twice the level; a step would move it
    // by the whole.
    const double rampStep = 2.0 * steady / 35.0 * 1.05;

    const std::vector<std::function<void()>> changes = {
        [&] { mixer.setMatrix(input, kSilent); },      [&] { mixer.setMatrix(input, kBothEars); },
        [&] { mixer.setPaused(input, true); },         [&] { mixer.setPaused(input, false); },
        [&] { mixer.setMatrix(input, {1, 0, 0, 1}); },
    };
    const std::vector<float> settled = {0.0f, 2 * steady, 0.0f, 2 * steady, steady};
    float last = steady;
    for (std::size_t i = 0; i < changes.size(); ++i) {
        SCOPED_TRACE(i);
        changes[i]();
        auto heard = radios.play(0.02);
        EXPECT_NE(heard[0], last); // already moving in the first block
        heard.insert(heard.begin(), {last, last});
        EXPECT_LE(largestStep(heard), rampStep);
        EXPECT_NEAR(heard[2 * 40], settled[i], 0.01); // done within 5 ms
        last = heard.back();
    }
}

TEST(RealtimeMixer, RunningDryPlaysCountedSilenceAndRecovers)
{
    Radios radios({tone(kRadio1Hz)});
    radios.play(0.5);
    radios.mixer.setPaused(radios.inputs[0], true);
    radios.play(0.1);
    radios.play(0.2, false);
    EXPECT_EQ(radios.mixer.underrunFrames(), 0U) << "a paused input running dry is no dropout";
    radios.mixer.setPaused(radios.inputs[0], false);
    radios.play(0.5);

    const auto dry = radios.play(0.2, false);
    EXPECT_GT(radios.mixer.underrunFrames(), 0U);
    EXPECT_TRUE(std::all_of(dry.end() - 1000, dry.end(), [](float x) { return x == 0.0f; }));

    const std::uint64_t underrun = radios.mixer.underrunFrames();
    const auto back = radios.play(0.5);
    EXPECT_NEAR(level(back, 0, kRadio1Hz, 0.2), 1.0, 0.02);
    EXPECT_EQ(radios.mixer.underrunFrames(), underrun);
}

// A level that no block boundary hides: the tones complete whole cycles in a
// block, so a step at a block's start would slip past them.
TEST(RealtimeMixer, StartsAndRestartsAfterADropoutWithAFadeIn)
{
    Radios radios({constant(0.5f)});
    // 0 to 0.5 over the 35 frames of a 5 ms ramp.
    const double rampStep = 0.5 / 35.0 * 1.05;
    const auto start = radios.play(0.5);
    ASSERT_NEAR(start.back(), 0.5f, 0.01f);
    EXPECT_LE(largestStep(start), rampStep);

    const auto dry = radios.play(0.2, false);
    ASSERT_EQ(dry.back(), 0.0f);
    const auto restart = radios.play(0.5);
    ASSERT_NEAR(restart.back(), 0.5f, 0.01f);
    EXPECT_LE(largestStep(restart), rampStep);
}

// Captures and requests come in uneven pieces; a caller that renders no more
// than readyFrames promises must never hear a dropout, yet keep pace.
TEST(RealtimeMixer, RenderingWhatIsReadyNeverRunsDry)
{
    RealtimeMixer mixer{RealtimeMixer::Config{}};
    EXPECT_EQ(mixer.readyFrames(), std::numeric_limits<std::size_t>::max());
    const int input = mixer.attachInput();
    EXPECT_EQ(mixer.readyFrames(), std::numeric_limits<std::size_t>::max()); // still filling

    std::mt19937 random(3);
    std::vector<float> block(2 * 200);
    std::size_t pushed = 0, rendered = 0, frame = 0;
    while (pushed < 10 * 7000) {
        const std::size_t capture = 1 + random() % 100;
        for (std::size_t i = 0; i < capture; ++i, ++frame)
            block[2 * i] = block[2 * i + 1] = tone(kRadio1Hz)(frame);
        mixer.push(input, block.data(), capture);
        pushed += capture;
        const std::size_t asked = std::min<std::size_t>(1 + random() % 150, mixer.readyFrames());
        mixer.render(block.data(), asked);
        rendered += asked;
    }
    EXPECT_EQ(mixer.underrunFrames(), 0U);
    const double targetFrames = RealtimeMixer::Config{}.targetDelayMs * 7.0;
    EXPECT_GT(static_cast<double>(rendered), static_cast<double>(pushed) - 2.0 * targetFrames);

    // Asking more than is ready does run dry.
    const std::size_t ready = mixer.readyFrames();
    ASSERT_LT(ready, 150U);
    mixer.render(block.data(), ready + 50);
    EXPECT_GT(mixer.underrunFrames(), 0U);
}

TEST(RealtimeMixer, FloodedInputCountsTheLossAndReturnsToItsDelay)
{
    Radios radios({tone(kRadio1Hz)});
    const int input = radios.inputs[0];
    std::vector<float> flood(7000 * 2 * 3, 0.1f); // 3 s while the output stalls
    radios.mixer.push(input, flood.data(), 7000 * 3);
    EXPECT_GT(radios.mixer.overflowFrames(), 0U);

    const auto heard = radios.play(2.0);
    EXPECT_NEAR(radios.mixer.delayMs(input), RealtimeMixer::Config{}.targetDelayMs, 2.0);
    EXPECT_NEAR(level(heard, 0, kRadio1Hz, 0.5), 1.0, 0.02);
}

// A server that delivers its capture late and several cycles at once leaves
// gaps no fixed target covers: the input learns to hold them while they
// last. A stall that comes once, or a device away for a second, must not cost
// the delay for good.
TEST(RealtimeMixer, AnInputThatComesInClumpsLearnsToHoldItsGaps)
{
    RealtimeMixer mixer{RealtimeMixer::Config{}};
    const int input = mixer.attachInput();
    std::vector<float> clump(700 * 2, 0.1f);
    std::vector<float> block(kBlock * 2);
    // Renders 10 ms blocks for `seconds`; the capture of `every` blocks comes
    // at once, at the last of them.
    const auto play = [&](double seconds, std::size_t every) {
        for (std::size_t b = 0; b < static_cast<std::size_t>(seconds * 100); ++b) {
            if (b % every == every - 1)
                mixer.push(input, clump.data(), every * kBlock);
            mixer.render(block.data(), kBlock);
        }
    };
    play(1.0, 1);
    play(0.06, 6); // a stall of 60 ms, then all it held back
    play(0.06, 6);
    play(1.0, 1000); // unplugged
    play(3.0, 1);
    EXPECT_NEAR(mixer.delayMs(input), RealtimeMixer::Config{}.targetDelayMs, 2.0);

    play(3.0, 10); // 100 ms at once, every 100 ms
    const std::uint64_t settled = mixer.underrunFrames();
    play(30.0, 10);
    EXPECT_EQ(mixer.underrunFrames(), settled);

    // Once the clumps have stopped, the delay they needed goes back.
    play(60.0, 1);
    EXPECT_NEAR(mixer.delayMs(input), RealtimeMixer::Config{}.targetDelayMs, 2.0);
}

// A capture that comes in larger bursts gets a target of its own, at attach
// or once found out while playing; one asked beyond what its ring can hold
// is held to the most it can, and a target is never lowered.
TEST(RealtimeMixer, InputsHoldTheirOwnTargetDelay)
{
    RealtimeMixer mixer{RealtimeMixer::Config{}};
    const int bursty = mixer.attachInput(45.0);
    const int greedy = mixer.attachInput(1e9);
    const int found = mixer.attachInput();
    std::vector<float> block(kBlock * 2);
    for (std::size_t frame = 0; frame < 7000 * 4; frame += kBlock) {
        if (frame == 7000) {
            mixer.raiseTarget(found, 45.0);
            mixer.raiseTarget(bursty, 30.0);
        }
        for (std::size_t i = 0; i < kBlock; ++i)
            block[2 * i] = block[2 * i + 1] = tone(kRadio1Hz)(frame + i);
        for (const int input : {bursty, greedy, found})
            mixer.push(input, block.data(), kBlock);
        mixer.render(block.data(), kBlock);
    }
    EXPECT_NEAR(mixer.delayMs(bursty), 45.0, 2.0);
    EXPECT_NEAR(mixer.delayMs(found), 45.0, 2.0);
    EXPECT_NEAR(mixer.delayMs(greedy),
                RealtimeMixer::Config{}.targetDelayMs + RealtimeMixer::kMaxExtraDelayMs, 2.0);
    EXPECT_EQ(mixer.overflowFrames(), 0U);
    // The raised input paused once while its delay grew, never again.
    const double grownFrames = (45.0 - RealtimeMixer::Config{}.targetDelayMs) * 7.0;
    EXPECT_LE(static_cast<double>(mixer.underrunFrames()), grownFrames + kBlock);
}

TEST(RealtimeMixer, InputsAreAttachedUpToTheLimitAndComeBackClean)
{
    RealtimeMixer mixer{RealtimeMixer::Config{}};
    std::vector<int> inputs;
    for (int i = 0; i < RealtimeMixer::kMaxInputs; ++i)
        inputs.push_back(mixer.attachInput());
    EXPECT_EQ(mixer.attachInput(), -1);

    const std::vector<float> samples(600, 0.5f);
    mixer.setMatrix(inputs[3], kSilent);
    mixer.setPaused(inputs[3], true);
    mixer.push(inputs[3], samples.data(), 300); // more than the target delay
    mixer.detachInput(inputs[3]);
    // Detached or unknown inputs are ignored, never touched.
    for (int stale : {inputs[3], -1, RealtimeMixer::kMaxInputs}) {
        mixer.setMatrix(stale, kBothEars);
        mixer.setPaused(stale, true);
        mixer.push(stale, samples.data(), 100);
        mixer.detachInput(stale);
        EXPECT_EQ(mixer.matrix(stale), kSilent);
    }

    EXPECT_EQ(mixer.attachInput(), inputs[3]);
    EXPECT_EQ(mixer.matrix(inputs[3]), (RoutingMatrix{1, 0, 0, 1}));
    std::vector<float> heard(200);
    mixer.render(heard.data(), 100);
    EXPECT_TRUE(std::all_of(heard.begin(), heard.end(), [](float x) { return x == 0.0f; }));
    mixer.push(inputs[3], samples.data(), 300);
    mixer.render(heard.data(), 100);
    EXPECT_FLOAT_EQ(heard.back(), 0.5f); // playing, not paused
}

// Two sound cards: the capture's crystal 300 ppm fast or slow against the
// output's, bursts of 5 to 10 ms both ways. The delay must hold where it is
// without drift, and no frame may be lost or played twice.
// A capture on the output's own clock is played frame for frame, nothing
// interpolated; a cycle that brings two bursts is cut back to the target
// rather than heard late from then on.
TEST(RealtimeMixer, AnInputOnTheOutputsClockPlaysItsFramesAsTheyCame)
{
    RealtimeMixer mixer{RealtimeMixer::Config{}};
    // A cycle to play and one more in hand.
    const double slackMs = (kBlock + 2.5) * 1000.0 / kRate;
    const double targetMs = slackMs + kBlock * 1000.0 / kRate;
    const int input = mixer.attachInput(slackMs, AdaptiveResampler::Clock::kSameCycle);
    std::vector<float> pushed, heard;
    std::vector<float> block(kBlock * 2);
    const auto cycle = [&](int bursts) {
        for (; bursts > 0; --bursts) {
            for (std::size_t i = 0; i < kBlock; ++i) {
                // Every frame its own value, exact in a float.
                block[2 * i] = static_cast<float>(pushed.size() / 2) / 65536.0f;
                block[2 * i + 1] = -block[2 * i];
                pushed.insert(pushed.end(), {block[2 * i], block[2 * i + 1]});
            }
            mixer.push(input, block.data(), kBlock);
        }
        mixer.render(block.data(), kBlock);
        heard.insert(heard.end(), block.begin(), block.end());
    };
    // The frames heard in the last second, and how far behind they came.
    const auto lastSecondLag = [&] {
        const std::size_t first = heard.size() / 2 - 7000;
        const float value = heard[2 * first] * 65536.0f;
        const auto lag = static_cast<std::size_t>(first) - static_cast<std::size_t>(value);
        for (std::size_t frame = first; frame < heard.size() / 2; ++frame) {
            EXPECT_EQ(heard[2 * frame], pushed[2 * (frame - lag)]) << frame;
            EXPECT_EQ(heard[2 * frame + 1], pushed[2 * (frame - lag) + 1]) << frame;
            if (heard[2 * frame] != pushed[2 * (frame - lag)])
                break;
        }
        return lag;
    };

    for (int i = 0; i < 200; ++i)
        cycle(1);
    const std::size_t lag = lastSecondLag();
    EXPECT_NEAR(mixer.delayMs(input), targetMs, 0.3);

    cycle(2);
    for (int i = 0; i < 200; ++i)
        cycle(1);
    EXPECT_EQ(mixer.overflowFrames(), kBlock);
    EXPECT_EQ(lastSecondLag(), lag - kBlock);
    EXPECT_NEAR(mixer.delayMs(input), targetMs, 0.3);
    EXPECT_EQ(mixer.underrunFrames(), 0U);

    // A cycle whose capture never came: the burst is made up, not left
    // missing from the margin until the input runs dry.
    cycle(0);
    for (int i = 0; i < 400; ++i)
        cycle(1);
    EXPECT_EQ(lastSecondLag(), lag);
    EXPECT_NEAR(mixer.delayMs(input), targetMs, 0.3);
    EXPECT_EQ(mixer.underrunFrames(), 0U);

    // Captures two cycles late run the input dry once; from then on it holds
    // a cycle more and rides them out. However often worse comes, it holds
    // at most three cycles more, and gives them back once all is calm.
    const double cycleMs = kBlock * 1000.0 / kRate;
    const auto late = [&](int cycles) {
        for (int i = 0; i < cycles; ++i)
            cycle(0);
        cycle(cycles + 1);
        for (int i = 0; i < 200; ++i)
            cycle(1);
    };
    late(2);
    const std::uint64_t dry = mixer.underrunFrames();
    EXPECT_GT(dry, 0U);
    EXPECT_NEAR(mixer.delayMs(input), targetMs + cycleMs, 0.3);
    late(2);
    EXPECT_EQ(mixer.underrunFrames(), dry);
    for (int i = 0; i < 5; ++i)
        late(12);
    EXPECT_NEAR(mixer.delayMs(input), targetMs + 3 * cycleMs, 0.3);
    // Ten minutes; a cycle is 10 ms.
    constexpr double kCalmMinutes = 10.0;
    for (int i = 0; i < kCalmMinutes * 60 * 100; ++i)
        cycle(1);
    const double givenBackMs = kCalmMinutes * 60 / AdaptiveResampler::kCalmSeconds * 1000.0 / kRate;
    EXPECT_NEAR(mixer.delayMs(input), targetMs + 3 * cycleMs - givenBackMs, 0.6);
}

// Captured and mixed in the same callback, in pieces that differ by a frame
// from the pieces played, whichever comes first: the input holds the cycle's
// own frames and a margin of under one frame, no cycle more, and never runs
// dry. A spell of longer cycles (another program's larger quantum) is held
// for while it lasts, and given back once it is over.
TEST(RealtimeMixer, AnInputPushedInTheSameCycleHoldsOnlyItsCycle)
{
    const double marginFrames = 0.98;
    const double cycleHeldMs = (10.0 + marginFrames + 1.0) * 1000.0 / kRate;
    for (int lag = 0; lag < 3; ++lag) {
        RealtimeMixer mixer{RealtimeMixer::Config{}};
        const int input =
            mixer.attachInput(marginFrames * 1000.0 / kRate, AdaptiveResampler::Clock::kSameCycle);
        std::vector<float> block(150 * 2, 0.25f);
        const auto cycles = [&](int count, std::size_t frames) {
            for (int cycle = 0; cycle < count; ++cycle) {
                mixer.push(input, block.data(), frames + (cycle % 3 == 0 ? 1 : 0));
                mixer.render(block.data(), frames + (cycle % 3 == lag ? 1 : 0));
            }
        };
        cycles(2000, 9);
        EXPECT_EQ(mixer.underrunFrames(), 0U) << "lag " << lag;
        EXPECT_LT(mixer.delayMs(input), cycleHeldMs) << "lag " << lag;
        cycles(200, 140);
        const std::uint64_t dryOnce = mixer.underrunFrames();
        cycles(200, 140);
        EXPECT_EQ(mixer.underrunFrames(), dryOnce) << "lag " << lag;
        cycles(25 * 7000 / 9, 9);
        EXPECT_LT(mixer.delayMs(input), cycleHeldMs) << "lag " << lag;
        EXPECT_EQ(mixer.underrunFrames(), dryOnce) << "lag " << lag;
    }
}

TEST(RealtimeMixer, DelayHoldsAgainstClockDrift)
{
    DriftScenario scenario;
    scenario.seconds = 120.0;
    scenario.settleSeconds = 0.0;
    const DriftOutcome reference = simulateClockDrift(scenario);
    for (double ppm : {300.0, -300.0}) {
        SCOPED_TRACE(ppm);
        scenario.ppm = ppm;
        const DriftOutcome drifting = simulateClockDrift(scenario);
        EXPECT_LT(drifting.maxDelayMs - reference.meanDelayMs, 2.0);
        EXPECT_GT(drifting.minDelayMs - reference.meanDelayMs, -2.0);
        EXPECT_EQ(drifting.underrunFrames, 0U);
        EXPECT_EQ(drifting.overflowFrames, 0U);
    }
}

// The user-interface thread changes routes, mutes and plugs a spare input in
// and out as fast as it can while the audio thread captures and mixes.
TEST(RealtimeMixer, ControlChangesWhileMixingStayClean)
{
    Radios radios({tone(kRadio1Hz), tone(kRadio2Hz)});
    RealtimeMixer &mixer = radios.mixer;
    std::atomic<bool> done{false};
    std::thread control([&] {
        std::mt19937 random(7);
        const RoutingMatrix routes[] = {kBothEars, kSilent, kLeftEar, kRightEar};
        int spare = -1;
        for (int change = 0; !done.load() && change < 200000; ++change) {
            const int input = radios.inputs[change % 2];
            mixer.setMatrix(input, routes[random() % 4]);
            mixer.setPaused(input, random() % 2 == 0);
            if (change % 16 == 0) {
                mixer.detachInput(spare);
                spare = mixer.attachInput();
            }
        }
        mixer.setMatrix(radios.inputs[0], kLeftEar);
        mixer.setMatrix(radios.inputs[1], kRightEar);
        mixer.setPaused(radios.inputs[0], false);
        mixer.setPaused(radios.inputs[1], false);
    });
    const auto heard = radios.play(30.0);
    done = true;
    control.join();
    // Never more than two radios at twice their level each.
    EXPECT_TRUE(std::all_of(heard.begin(), heard.end(),
                            [](float x) { return std::isfinite(x) && std::abs(x) <= 1.05f; }));

    const auto after = radios.play(0.2);
    EXPECT_NEAR(level(after, 0, kRadio1Hz, 0.1), 2.0, 0.02);
    EXPECT_NEAR(level(after, 1, kRadio2Hz, 0.1), 2.0, 0.02);
    EXPECT_NEAR(level(after, 1, kRadio1Hz, 0.1), 0.0, 0.02);
}

} // namespace
