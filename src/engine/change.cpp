#include "engine/change.hpp"

namespace hexalume::engine {

Section section_of(const ChangeRecord& record) {
  const bool member = record.position->step == StepKind::Member;
  switch (record.kind) {
    case ChangeRecord::Kind::Changed:
      return Section::ValuesChanged;
    case ChangeRecord::Kind::TypeChanged:
      return Section::TypeChanges;
    case ChangeRecord::Kind::Added:
      return member ? Section::DictionaryItemAdded : Section::IterableItemAdded;
    case ChangeRecord::Kind::Removed:
      return member ? Section::DictionaryItemRemoved : Section::IterableItemRemoved;
  }
  return Section::ValuesChanged;
}

}  // namespace hexalume::engine
