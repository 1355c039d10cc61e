// The stack-protection guard of the shipped and test programs (defined in
// runtime_replacements.cpp).
#pragma once

namespace frame {

// Gives the guard this process's own value. Called first thing at the entry, from a frame that
// has no guard check of its own: a protected frame live across the change would fail its check.
__attribute__((no_stack_protector)) void SeedStackGuard();

}  // namespace frame
