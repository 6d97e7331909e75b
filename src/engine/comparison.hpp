#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>

#include "engine/change.hpp"
#include "engine/report.hpp"
#include "engine/walk.hpp"
#include "options/record.hpp"
#include "value/value.hpp"

namespace hexalume::engine {

// One finished comparison: the report, its records and both inputs, all owned, and the first path
// that two positions would have shared in one report section, if any (the report then keeps the
// later of the two entries; the Python boundary refuses such a comparison). The report and the
// records hold views into the inputs.
struct Vesperon {
  value::Value report;
  ChangeLog changes;
  // The list [t1, t2]. One tree owns both, so t2 may share the nodes of t1 where they agree.
  value::Value inputs;
  std::optional<PathCollision> collision;
  // Set while `report` is still to be built from `changes`, whose records then stand in the
  // order they were made (see finish_report).
  bool report_waits = false;
  std::uint8_t verbose_level = 1;

  const value::Node& t1() const { return inputs.root().items[0]; }
  const value::Node& t2() const { return inputs.root().items[1]; }
};

// Builds the report of a comparison whose report waits, and puts its records in report order;
// does nothing otherwise. Throws when interrupted or out of memory, and the report then still
// waits. Reading `report` or `changes` needs it first.
void finish_report(Vesperon& comparison);

// The sections of the report (0 for no difference), whether it was built or not.
std::size_t report_sections(const Vesperon& comparison);

// Compares the two items of `inputs` (a list [t1, t2]) under `options` and keeps the report and
// the inputs. Cannot fail. A report of a few records that cannot collide waits to be built
// until it is first read.
Vesperon with_options(value::Value inputs, options::VesperonOptions options,
                      Inputs made = Inputs::Separate);
// The same for two separate trees.
Vesperon with_options(value::Value t1, value::Value t2, options::VesperonOptions options);

// Inputs standing for two inputs known to be equal: two nulls, owning no memory.
value::Value null_inputs();

}  // namespace hexalume::engine
