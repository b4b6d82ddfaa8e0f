// orv_input: keyboard and mouse vocabulary and the per-frame input state.
#pragma once

namespace orv {}  // namespace orv
