#pragma once
// ExampleSet.h: the README's example music set, written with its track files into a folder:
// explore (120 bpm, markers at 8 and 16 s), combat (120 bpm, 4 bars), a 2-bar drum loop, a
// bridge, two calm pieces and a stinger, as short tones.
// Threads: any. Memory: allocates. Errors: std::runtime_error.

#include <cstddef>
#include <string>

#include "tests/support/TestPaths.h"

namespace oggmix::test {

// The example set's JSON text.
[[nodiscard]] std::string ExampleSetJson();
// "LINE:COLUMN" of the byte at Offset of an ASCII text, both from 1, as set messages say it.
[[nodiscard]] std::string LineAndColumn(const std::string& text, size_t offset);
// Writes the track files into folder and the set as folder/set.json; returns its path.
std::string WriteExampleSet(const TempDir& folder);

}  // namespace oggmix::test
