from hypothesis import settings

# CI runs the suite under PYTHONMALLOC=debug, where timings mean nothing.
settings.register_profile("hexalume", deadline=None)
settings.load_profile("hexalume")
