import os

from hypothesis import settings

# CI runs the suite under PYTHONMALLOC=debug and under the sanitizers, where timings mean nothing.
settings.register_profile("hexalume", deadline=None)
# HEXALUME_FUZZ_EXAMPLES=N turns the property tests into a longer fuzz run of N examples each
# (scripts/sanitize.sh does so under ASan and UBSan).
_fuzz_examples = os.environ.get("HEXALUME_FUZZ_EXAMPLES")
if _fuzz_examples:
    settings.register_profile(
        "hexalume-fuzz", parent=settings.get_profile("hexalume"), max_examples=int(_fuzz_examples)
    )
    settings.load_profile("hexalume-fuzz")
else:
    settings.load_profile("hexalume")
