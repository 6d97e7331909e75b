# Wrong uses of hexalume. Under `mypy --strict` each line marked `# E: code` must be reported with
# that error code, and no other line may be reported: proof that the stubs are in force (the
# constructor is overloaded on verbose_level, hence "call-overload").
from hexalume import Vesperon

Vesperon(1, 2, ignore_order=1)  # E: call-overload
Vesperon(1, 2, ignore_orders=True)  # E: call-overload
Vesperon(1, 2, include_paths="root['a']")  # E: call-overload
Vesperon(1, 2, exclude_paths=[1])  # E: list-item
Vesperon(1, 2, significant_digits=2.5)  # E: call-overload
Vesperon(1, 2, atol="0.1")  # E: call-overload
Vesperon(1, 2, ignore_type_in_groups=[int, float])  # E: list-item
Vesperon(1)  # E: call-overload
diff = Vesperon(1, 2)
diff.pretty(True)  # E: call-arg
diff.pretty(max_depth="3")  # E: arg-type
diff.pretty(color=False)  # E: call-arg
diff.to_dict()["value_changed"]  # E: typeddict-item
entry_count: str = len(diff)  # E: assignment
diff.to_dict(True)  # E: call-arg
Vesperon(1, 2, verbose_level=0).to_dict()["values_changed"].items()  # E: attr-defined
Vesperon(1, 2, verbose_level=len("")).to_dict()["values_changed"].items()  # E: union-attr


class Mine(Vesperon):  # E: misc
    pass
