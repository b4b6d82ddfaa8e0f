// The self-checks of orv_app, in registration order.
#pragma once

#include <array>

#include "orv/check.hpp"

namespace orv::app_checks {

check::Result cameraInitialPosition();
check::Result cameraPositionOnS3();
check::Result cameraForwardPerpendicular();
check::Result cameraReset();
check::Result cameraViewHas16Elements();
check::Result cameraReorthonormalizePreservesS3();
check::Result cameraForwardPerpendicularAfterUpdate();
check::Result appConfigDefaults();
check::Result cameraUpdateWithZeroInput();
check::Result mvpGpuIsValid();

inline constexpr std::array checks{
    check::TestFn{"orv_app.test.App: OrvCamera initial position", &cameraInitialPosition},
    check::TestFn{"orv_app.test.App: OrvCamera position on S³", &cameraPositionOnS3},
    check::TestFn{"orv_app.test.App: OrvCamera forward perpendicular to position",
                  &cameraForwardPerpendicular},
    check::TestFn{"orv_app.test.App: OrvCamera reset", &cameraReset},
    check::TestFn{"orv_app.test.App: OrvCamera viewPGL4 is 16 elements", &cameraViewHas16Elements},
    check::TestFn{"orv_app.test.App: OrvCamera reorthonormalize preserves S³",
                  &cameraReorthonormalizePreservesS3},
    check::TestFn{"orv_app.test.App: OrvCamera forward stays perpendicular after update",
                  &cameraForwardPerpendicularAfterUpdate},
    check::TestFn{"orv_app.test.App: AppConfig defaults", &appConfigDefaults},
    check::TestFn{"orv_app.test.App: OrvCamera update with zero input", &cameraUpdateWithZeroInput},
    check::TestFn{"orv_app.test.App: mvpGpu produces valid PGL4", &mvpGpuIsValid},
};

}  // namespace orv::app_checks
