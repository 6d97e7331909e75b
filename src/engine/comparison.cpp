#include "engine/comparison.hpp"

#include <utility>

namespace hexalume::engine {

Vesperon with_options(value::Value inputs, options::VesperonOptions options, Inputs made) {
  DiffAccumulator accumulator;
  const value::Node& root = inputs.root();
  diff_values(root.items[0], root.items[1], options, accumulator, made);
  Vesperon comparison{value::Value(), take_log(std::move(accumulator)), std::move(inputs),
                      std::nullopt};
  comparison.verbose_level = options.verbose_level;
  if (report_can_wait(comparison.changes)) {
    comparison.report_waits = true;
  } else {
    comparison.report =
        report_of_log(comparison.changes, options.verbose_level, &comparison.collision);
  }
  return comparison;
}

void finish_report(Vesperon& comparison) {
  if (!comparison.report_waits) return;
  value::Value report = report_of_waiting_log(comparison.changes, comparison.verbose_level);
  comparison.report = std::move(report);
  comparison.report_waits = false;
}

std::size_t report_sections(const Vesperon& comparison) {
  if (!comparison.report_waits) {
    const value::Node& report = comparison.report.root();
    return report.kind == value::Kind::Object ? report.size() : 0;
  }
  std::size_t sections = 0;
  for (const std::vector<ChangeRecord>& records : comparison.changes.sections) {
    if (!records.empty()) ++sections;
  }
  return sections;
}

Vesperon with_options(value::Value t1, value::Value t2, options::VesperonOptions options) {
  return with_options(value::Value::pair(std::move(t1), std::move(t2)), std::move(options));
}

value::Value null_inputs() {
  static const value::Node nulls[2];
  return value::Value(value::make_list(nulls, 2));
}

}  // namespace hexalume::engine
