// The self-checks of orv_input, in registration order.
#pragma once

#include <array>

#include "orv/check.hpp"

namespace orv::input_checks {

check::Result keyModsIsOneByte();
check::Result mouseStateInitialValues();
check::Result inputStateInitialState();
check::Result moveDirNoInput();
check::Result moveDirForward();
check::Result moveDirNormalizedDiagonal();
check::Result inputEventSize();
check::Result mouseButtonValues();
check::Result keyActionValues();
check::Result mouseStateClearDeltas();

inline constexpr std::array checks{
    check::TestFn{"orv_input.test.Input: KeyMods is 1 byte", &keyModsIsOneByte},
    check::TestFn{"orv_input.test.Input: MouseState initial values", &mouseStateInitialValues},
    check::TestFn{"orv_input.test.Input: InputState initial state", &inputStateInitialState},
    check::TestFn{"orv_input.test.Input: cameraMoveDir with no input", &moveDirNoInput},
    check::TestFn{"orv_input.test.Input: cameraMoveDir forward", &moveDirForward},
    check::TestFn{"orv_input.test.Input: cameraMoveDir normalized diagonal",
                  &moveDirNormalizedDiagonal},
    check::TestFn{"orv_input.test.Input: InputEvent tagged union size", &inputEventSize},
    check::TestFn{"orv_input.test.Input: MouseButton enum values", &mouseButtonValues},
    check::TestFn{"orv_input.test.Input: KeyAction enum values", &keyActionValues},
    check::TestFn{"orv_input.test.Input: MouseState clearDeltas", &mouseStateClearDeltas},
};

}  // namespace orv::input_checks
