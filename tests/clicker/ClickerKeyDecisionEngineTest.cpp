// SPDX-License-Identifier: MIT
#include <functional>
#include <gtest/gtest.h>
#include <string>
#include <vector>

#include "clicker/ClickerKeyDecisionEngine.h"

namespace kelvra {
namespace {

constexpr uint16_t kPageDown = ClickerKeyCode::pageDown;
constexpr uint16_t kF5 = 96;
constexpr uint16_t kA = 0;
constexpr uint64_t kShift = ClickerModifierFlags::shift;
constexpr uint32_t kLaptop = 1;
constexpr uint32_t kClicker = 2;

using Decision = KeyboardTapDecision;
using Input = std::optional<ClickerCapturedInput>;
const Input kNext = ClickerDirection::right;

std::shared_ptr<const ClickerInputConfiguration> nextOnF5() {
    auto configuration = ClickerInputConfiguration::defaults();
    configuration.next = {kF5, 0, "F5"};
    return std::make_shared<const ClickerInputConfiguration>(configuration);
}

std::shared_ptr<const ClickerInputConfiguration> blackoutOnShiftA() {
    auto configuration = ClickerInputConfiguration::defaults();
    configuration.customAssignments.emplace_back(Uuid::generate(), ClickerCustomAction::blackout,
                                                 ClickerKeystroke{kA, kShift, "A"});
    return std::make_shared<const ClickerInputConfiguration>(configuration);
}

// One step of a scenario: an event with the decision it must get, or a change of the engine.
struct Step {
    KeyboardTapEvent event{};
    Decision decision = Decision::pass;
    Input input;
    std::function<void(ClickerKeyDecisionEngine&)> change;
};

Step key(uint32_t device, uint16_t keyCode, KeyTransition transition, uint64_t flags,
         Decision decision, Input input = std::nullopt) {
    return {{device, keyCode, transition, flags}, decision, std::move(input), {}};
}
Step down(uint16_t keyCode, Decision decision, Input input = std::nullopt, uint64_t flags = 0) {
    return key(kClicker, keyCode, KeyTransition::down, flags, decision, std::move(input));
}
Step repeat(uint16_t keyCode, Decision decision) {
    return key(kClicker, keyCode, KeyTransition::repeat, 0, decision);
}
Step up(uint16_t keyCode, Decision decision) {
    return key(kClicker, keyCode, KeyTransition::up, 0, decision);
}
Step change(std::function<void(ClickerKeyDecisionEngine&)> what) {
    return {{}, {}, {}, what};
}

struct Scenario {
    std::string name;
    std::vector<Step> steps;
    std::shared_ptr<const ClickerInputConfiguration> configuration =
        ClickerKeyDecisionEngine::defaultConfiguration();
};

TEST(ClickerKeyDecisionEngineTest, DecidesEveryKeyOfAPressByItsKeyDown) {
    const auto recording = [](bool on) {
        return change([on](ClickerKeyDecisionEngine& engine) { engine.setRecording(on); });
    };
    const Scenario scenarios[] = {
        {"Page Down with the defaults: delivered once, repeats and key-up swallowed",
         {down(kPageDown, Decision::consume, kNext), repeat(kPageDown, Decision::consume),
          repeat(kPageDown, Decision::consume), up(kPageDown, Decision::consume)}},
        {"recording passes and the key stays released to the application after recording ends",
         {recording(true), down(kPageDown, Decision::pass), recording(false),
          repeat(kPageDown, Decision::pass), up(kPageDown, Decision::pass),
          down(kPageDown, Decision::consume, kNext)}},
        {"a key consumed before recording began stays consumed",
         {down(kPageDown, Decision::consume, kNext), recording(true),
          repeat(kPageDown, Decision::consume), up(kPageDown, Decision::consume)}},
        {"held before the tap began: swallowed without delivery",
         {repeat(kPageDown, Decision::consume), repeat(kPageDown, Decision::consume),
          up(kPageDown, Decision::consume), down(kPageDown, Decision::consume, kNext)}},
        {"configuration changed while held: the held key keeps its decision",
         {down(kPageDown, Decision::consume, kNext),
          change([](ClickerKeyDecisionEngine& engine) { engine.setConfiguration(nextOnF5()); }),
          repeat(kPageDown, Decision::consume), up(kPageDown, Decision::consume),
          down(kPageDown, Decision::pass), down(kF5, Decision::consume, kNext)}},
        {"a newly assigned key that was held before the change keeps passing",
         {down(kF5, Decision::pass),
          change([](ClickerKeyDecisionEngine& engine) { engine.setConfiguration(nextOnF5()); }),
          repeat(kF5, Decision::pass), up(kF5, Decision::pass)}},
        {"Shift on the laptop keyboard plus A on the clicker is the custom Shift+A",
         {key(kLaptop, 56, KeyTransition::down, kShift, Decision::pass),
          key(kClicker, kA, KeyTransition::down, kShift, Decision::consume,
              ClickerCustomAction::blackout),
          key(kLaptop, 56, KeyTransition::up, 0, Decision::pass),
          key(kClicker, kA, KeyTransition::up, 0, Decision::consume)},
         blackoutOnShiftA()},
        {"the same key on two keyboards is two keys",
         {key(kLaptop, kPageDown, KeyTransition::down, kShift, Decision::pass),
          key(kClicker, kPageDown, KeyTransition::down, 0, Decision::consume, kNext),
          key(kLaptop, kPageDown, KeyTransition::up, 0, Decision::pass),
          key(kClicker, kPageDown, KeyTransition::up, 0, Decision::consume)}},
        {"a keyboard forgotten while its keys are held: they are decided afresh",
         {down(kPageDown, Decision::consume, kNext),
          key(kLaptop, kA, KeyTransition::down, 0, Decision::pass),
          change([](ClickerKeyDecisionEngine& engine) { engine.forgetDevice(kClicker); }),
          down(kPageDown, Decision::consume, kNext),
          key(kLaptop, kA, KeyTransition::up, 0, Decision::pass)}},
        {"a new run forgets held keys",
         {down(kPageDown, Decision::consume, kNext),
          change([](ClickerKeyDecisionEngine& engine) { engine.clearHeldKeys(); }),
          up(kPageDown, Decision::pass)}},
    };
    for (const Scenario& scenario : scenarios) {
        ClickerKeyDecisionEngine engine(scenario.configuration);
        int index = 0;
        for (const Step& step : scenario.steps) {
            ++index;
            if (step.change) {
                step.change(engine);
                continue;
            }
            const auto decision = engine.decide(step.event);
            EXPECT_EQ(decision.tap, step.decision) << scenario.name << ", step " << index;
            EXPECT_EQ(decision.input, step.input) << scenario.name << ", step " << index;
        }
    }
}

TEST(ClickerKeyDecisionEngineTest, KeysBeyondTheHeldCapacityAreDecidedButNotRemembered) {
    ClickerKeyDecisionEngine engine;
    for (uint32_t device = 0; device < ClickerKeyDecisionEngine::kHeldKeyCapacity; ++device) {
        engine.decide({device, kA, KeyTransition::down, 0});
    }
    EXPECT_EQ(engine.decide({999, kPageDown, KeyTransition::down, 0}).input, kNext);
    EXPECT_EQ(engine.decide({999, kPageDown, KeyTransition::up, 0}).tap, Decision::pass);
    // Room again once a held key goes up.
    engine.decide({0, kA, KeyTransition::up, 0});
    engine.decide({999, kPageDown, KeyTransition::down, 0});
    EXPECT_EQ(engine.decide({999, kPageDown, KeyTransition::up, 0}).tap, Decision::consume);
}

}  // namespace
}  // namespace kelvra
