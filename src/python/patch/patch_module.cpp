// The private extension module _hexalume_patch: the native half of hexalume_patch.

#include "python/boundary.hpp"

#include "python/cancel_hook.hpp"
#include "python/errors.hpp"
#include "python/gc_pause.hpp"
#include "python/patch/json_tree.hpp"
#include "python/patch/patch_walk.hpp"
#include "value/value.hpp"

namespace hexalume::python::patch {

namespace {

PyObject* make_patch(PyObject*, PyObject* args, PyObject* kwargs) {
  static const char* keywords[] = {"old", "new", "test", nullptr};
  PyObject* old_object = nullptr;
  PyObject* new_object = nullptr;
  int with_tests = 0;
  if (!PyArg_ParseTupleAndKeywords(args, kwargs, "OO|$p:make_patch", const_cast<char**>(keywords),
                                   &old_object, &new_object, &with_tests)) {
    return nullptr;
  }
  // The walk and the copies create no cycles and must see the inputs unchanged: no collection
  // (and so no finaliser) runs in between.
  const GcPause pause;
  return make_patch_from_py(old_object, new_object, with_tests != 0).release();
}

PyObject* copy_document(PyObject*, PyObject* args) {
  PyObject* object = nullptr;
  const char* label = nullptr;
  if (!PyArg_ParseTuple(args, "Os:copy_document", &object, &label)) return nullptr;
  const GcPause pause;
  return json_copy(object, label, {}).release();
}

PyObject* equal_documents(PyObject*, PyObject* args) {
  PyObject* left = nullptr;
  PyObject* right = nullptr;
  const char* left_label = nullptr;
  const char* right_label = nullptr;
  if (!PyArg_ParseTuple(args, "OOss:equal_documents", &left, &right, &left_label, &right_label)) {
    return nullptr;
  }
  const GcPause pause;
  value::Value left_tree;
  value::Value right_tree;
  value::Node left_root;
  value::Node right_root;
  if (!json_from_py(left, left_label, {}, left_tree.arena(), left_root) ||
      !json_from_py(right, right_label, {}, right_tree.arena(), right_root)) {
    return nullptr;
  }
  return PyBool_FromLong(value::equal(left_root, right_root) ? 1 : 0);
}

template <auto Function, typename... Args>
PyObject* guarded(PyObject* self, Args... args) noexcept {
  return call_guarded([&] { return Function(self, args...); });
}

PyMethodDef methods[] = {
    {"make_patch",
     reinterpret_cast<PyCFunction>(
         reinterpret_cast<void (*)()>(guarded<make_patch, PyObject*, PyObject*>)),
     METH_VARARGS | METH_KEYWORDS,
     "make_patch(old, new, *, test=False)\n--\n\nThe JSON Patch operations from old to new."},
    {"copy_document", guarded<copy_document, PyObject*>, METH_VARARGS,
     "copy_document(document, label)\n--\n\nA fresh copy of a JSON document."},
    {"equal_documents", guarded<equal_documents, PyObject*>, METH_VARARGS,
     "equal_documents(left, right, left_label, right_label)\n--\n\nJSON equality, types apart."},
    {nullptr, nullptr, 0, nullptr},
};

PyModuleDef module_definition = {
    PyModuleDef_HEAD_INIT,
    "_hexalume_patch",
    "Native half of hexalume_patch.",
    0,
    methods,
    nullptr,
    nullptr,
    nullptr,
    nullptr,
};

}  // namespace

}  // namespace hexalume::python::patch

PyMODINIT_FUNC PyInit__hexalume_patch() {
  return hexalume::python::call_guarded([]() -> PyObject* {
    hexalume::python::install_cancel_hook();
    return PyModule_Create(&hexalume::python::patch::module_definition);
  });
}
