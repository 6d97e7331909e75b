#include "engine/comparison.hpp"

#include <string>
#include <utility>

#include "engine/walk.hpp"

namespace hexalume::engine {

Vesperon with_options(value::Value t1, value::Value t2, options::VesperonOptions options) {
  DiffAccumulator accumulator;
  std::string path = "root";
  path.reserve(256);
  diff_values(t1.root(), t2.root(), path, options, accumulator);
  std::optional<PathCollision> collision;
  value::Value report = into_value(std::move(accumulator), options.verbose_level, &collision);
  return Vesperon{std::move(report), std::move(t1), std::move(t2), std::move(collision)};
}

value::Value to_value(const Vesperon& comparison) { return comparison.report; }

}  // namespace hexalume::engine
