// Check names that are hard to carry through a command line, a CMake script and CTest: spaces,
// colons, non-ASCII, list separators, brackets, quotes, backslashes, variable references and
// regular-expression characters. The last check is skipped.
#pragma once

#include <array>

#include "check.hpp"

namespace orv::odd_names {

inline check::Result passes() { return check::success; }
inline check::Result skipped() { return check::skip(); }

inline constexpr std::array checks{
    check::TestFn{"odd.test.App: spaces and colons", &passes},
    check::TestFn{"odd.test.S³ → Π_Λ: Π² = Π, ε=0, A − Aᵀ", &passes},
    check::TestFn{"odd.test.list;separators; and [brackets] [unbalanced", &passes},
    check::TestFn{"odd.test.closing ]] and ]=] and ]==]", &passes},
    check::TestFn{"odd.test.ends in a bracket]", &passes},
    check::TestFn{"odd.test.${VARIABLE} @VAR@ \"quoted\" \\back\\slash\\", &passes},
    check::TestFn{"odd.test.regex .*+?()|^$ <xml> & 'apostrophe' #hash", &passes},
    check::TestFn{"odd.test.skipped", &skipped},
};

}  // namespace orv::odd_names
