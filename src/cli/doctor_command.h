#pragma once
// `quorvel doctor`: what this machine has for translating, and what to do about what is missing.

#include <cstdio>

namespace quorvel {

/// One line per part (engine, model, memory, threads, translation memory); 0 when the engine
/// and the model are both there, 1 otherwise.
int run_doctor(std::FILE* out);

}  // namespace quorvel
