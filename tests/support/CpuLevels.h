#pragma once
// The kernel tables of every instruction-set level this processor has, the portable one first,
// for the equivalence tests to hold each level's kernels against the reference:
//   const auto& levels = testing::TablesPerLevel<VideoDsp>(InitVideoDsp);
#include <vector>

#include "base/CpuFlags.h"

namespace zentrova::testing {

template <class Table>
struct LevelTables {
  const char* name;  // the level's name (c, sse2, ...)
  Table dsp;
};

// Filled once per table type: `init` fills a table with the kernels of the flags it is given.
template <class Table, class Init>
const std::vector<LevelTables<Table>>& TablesPerLevel(Init init) {
  static const std::vector<LevelTables<Table>> levels = [&] {
    std::vector<LevelTables<Table>> found;
    const uint32_t processor = ProcessorCpuFlags();
    for (const CpuLevel& level : kCpuLevels) {
      if ((level.flags & processor) != level.flags) continue;
      LevelTables<Table>& l = found.emplace_back(LevelTables<Table>{level.name, {}});
      init(l.dsp, level.flags);
    }
    return found;
  }();
  return levels;
}

}  // namespace zentrova::testing
