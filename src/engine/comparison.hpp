#pragma once

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

  const value::Node& t1() const { return inputs.root().items[0]; }
  const value::Node& t2() const { return inputs.root().items[1]; }
};

// Compares the two items of `inputs` (a list [t1, t2]) under `options` and keeps the report and
// the inputs. Cannot fail.
Vesperon with_options(value::Value inputs, options::VesperonOptions options,
                      Inputs made = Inputs::Separate);
// The same for two separate trees.
Vesperon with_options(value::Value t1, value::Value t2, options::VesperonOptions options);

// Inputs standing for two inputs known to be equal: two nulls, owning no memory.
value::Value null_inputs();

}  // namespace hexalume::engine
