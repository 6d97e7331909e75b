#include "engine/comparison.hpp"

#include <utility>

namespace hexalume::engine {

Vesperon with_options(value::Value inputs, options::VesperonOptions options, Inputs made) {
  DiffAccumulator accumulator;
  const value::Node& root = inputs.root();
  diff_values(root.items[0], root.items[1], options, accumulator, made);
  std::optional<PathCollision> collision;
  ChangeLog changes;
  value::Value report =
      into_value(std::move(accumulator), options.verbose_level, &collision, changes);
  return Vesperon{std::move(report), std::move(changes), std::move(inputs), std::move(collision)};
}

Vesperon with_options(value::Value t1, value::Value t2, options::VesperonOptions options) {
  return with_options(value::Value::pair(std::move(t1), std::move(t2)), std::move(options));
}

value::Value null_inputs() {
  static const value::Node nulls[2];
  return value::Value(value::make_list(nulls, 2));
}

}  // namespace hexalume::engine
