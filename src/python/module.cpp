// The extension module hexalume and its one class, Vesperon.

#include "python/boundary.hpp"

#include <new>
#include <optional>
#include <utility>

#include "engine/comparison.hpp"
#include "python/cancel_hook.hpp"
#include "python/convert.hpp"
#include "python/equal_inputs.hpp"
#include "python/errors.hpp"
#include "python/gc_pause.hpp"
#include "python/keywords.hpp"
#include "python/pretty_method.hpp"
#include "python/report_repr.hpp"

namespace hexalume::python {

namespace {

constexpr char kClassName[] = "Vesperon";
constexpr char kConstructorName[] = "Vesperon.__new__()";

// The instance: the object header, one finished comparison, built in place once the comparison
// has succeeded and never changed afterwards, and, when the comparison converted only what
// differs, the two inputs (held), from which pretty() reads unchanged list items for context.
struct PyVesperon {
  PyObject_HEAD engine::Vesperon comparison;
  PyObject* inputs[2];
};

PyVesperon& instance_of(PyObject* self) { return *reinterpret_cast<PyVesperon*>(self); }

const engine::Vesperon& comparison_of(PyObject* self) { return instance_of(self).comparison; }

// Whether the inputs may be paired, converting only what differs: only when no option can hide
// a difference (they are validated later), so that every part in which the inputs differ holds
// a change, and pretty() draws it as changed, never as an unchanged list item, which it would
// read from the inputs. Unordered matching reads every item, so ignore_order needs both inputs
// in full as well.
bool pairing_allowed(PyObject* keywords) {
  if (keywords == nullptr) return true;
  Py_ssize_t position = 0;
  PyObject* key = nullptr;
  PyObject* value = nullptr;
  while (PyDict_Next(keywords, &position, &key, &value)) {
    const bool harmless =
        PyUnicode_Check(key) &&
        (PyUnicode_CompareWithASCIIString(key, "verbose_level") == 0 ||
         (PyUnicode_CompareWithASCIIString(key, "ignore_order") == 0 && value == Py_False));
    if (!harmless) return false;
  }
  return true;
}

// Binds (t1, t2, **kwargs) the way a Python signature would. On success t1 and t2 are set and
// `options` holds the remaining keywords (empty when there are none).
bool bind_arguments(PyObject* args, PyObject* kwargs, PyRef& t1, PyRef& t2, PyRef& options) {
  Py_ssize_t given = PyTuple_Size(args);
  if (given > 2) {
    raise_too_many_positional(kConstructorName, 2, given);
    return false;
  }
  if (given > 0) t1 = PyRef::borrow(PyTuple_GetItem(args, 0));
  if (given > 1) t2 = PyRef::borrow(PyTuple_GetItem(args, 1));
  if (kwargs != nullptr && PyDict_Size(kwargs) > 0) {
    // The interpreter hands us a fresh dict; copy it only when t1 or t2 must come out of it.
    bool named = false;
    Py_ssize_t position = 0;
    PyObject* key = nullptr;
    PyObject* value = nullptr;
    while (PyDict_Next(kwargs, &position, &key, &value)) {
      if (PyUnicode_Check(key) && (PyUnicode_CompareWithASCIIString(key, "t1") == 0 ||
                                   PyUnicode_CompareWithASCIIString(key, "t2") == 0)) {
        named = true;
      }
    }
    if (!named) {
      options = PyRef::borrow(kwargs);
    } else {
      PyRef rest = PyRef::steal(PyDict_New());
      if (!rest) return false;
      position = 0;
      while (PyDict_Next(kwargs, &position, &key, &value)) {
        PyRef* slot = nullptr;
        const char* name = nullptr;
        if (PyUnicode_Check(key) && PyUnicode_CompareWithASCIIString(key, "t1") == 0) {
          slot = &t1;
          name = "t1";
        } else if (PyUnicode_Check(key) && PyUnicode_CompareWithASCIIString(key, "t2") == 0) {
          slot = &t2;
          name = "t2";
        }
        if (slot == nullptr) {
          if (PyDict_SetItem(rest.get(), key, value) != 0) return false;
        } else if (*slot) {
          raise_multiple_values(kConstructorName, name);
          return false;
        } else {
          *slot = PyRef::borrow(value);
        }
      }
      if (PyDict_Size(rest.get()) > 0) options = std::move(rest);
    }
  }
  if (!t1 || !t2) {
    const char* missing[2];
    int count = 0;
    if (!t1) missing[count++] = "t1";
    if (!t2) missing[count++] = "t2";
    raise_missing_arguments(kConstructorName, missing, count);
    return false;
  }
  return true;
}

PyObject* construct(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
  PyRef t1;
  PyRef t2;
  PyRef keywords;
  if (!bind_arguments(args, kwargs, t1, t2, keywords)) return nullptr;
  // Both inputs are converted before any option is read, so a bad input wins over a bad option.
  // Inputs shown equal without conversion (which could not have failed on them) give the empty
  // report under every option: two nulls stand in for them, and no copy of either is kept.
  // Otherwise only what differs is converted where the walk can pair the inputs.
  std::optional<value::Value> inputs;
  const InputEquality equality = pairing_allowed(keywords.get())
                                     ? paired_inputs_from_py(t1.get(), t2.get(), inputs)
                                     : equal_inputs_from_py(t1.get(), t2.get());
  if (equality == InputEquality::Failed) return nullptr;
  if (equality == InputEquality::Equal) {
    inputs = engine::null_inputs();
  } else if (equality == InputEquality::Undecided) {
    inputs = inputs_from_py(t1.get(), t2.get());
    if (!inputs) return nullptr;
  }
  std::optional<options::VesperonOptions> parsed = parse_options(keywords.get());
  if (!parsed) return nullptr;
  const bool paired = equality == InputEquality::Paired;
  engine::Vesperon comparison =
      engine::with_options(std::move(*inputs), std::move(*parsed),
                           paired ? engine::Inputs::SharingEqualParts : engine::Inputs::Separate);
  if (comparison.collision) {
    raise_path_collision(comparison.collision->path, comparison.collision->section);
    return nullptr;
  }
  // The class cannot be subclassed, so its slots are the defaults of a collected heap type.
  PyObject* self = PyType_GenericAlloc(type, 0);
  if (self == nullptr) return nullptr;
  PyVesperon& instance = instance_of(self);
  new (&instance.comparison) engine::Vesperon(std::move(comparison));
  instance.inputs[0] = paired ? t1.release() : nullptr;
  instance.inputs[1] = paired ? t2.release() : nullptr;
  return self;  // tracked by the collector since its allocation
}

PyObject* vesperon_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
  return call_guarded([&] { return construct(type, args, kwargs); });
}

void vesperon_dealloc(PyObject* self) {
  PyTypeObject* type = Py_TYPE(self);
  PyObject_GC_UnTrack(self);
  PyVesperon& instance = instance_of(self);
  Py_CLEAR(instance.inputs[0]);
  Py_CLEAR(instance.inputs[1]);
  engine::Vesperon& comparison = instance.comparison;
  comparison.report = value::Value();
  comparison.inputs = value::Value();
  comparison.~Vesperon();
  PyObject_GC_Del(self);
  Py_DECREF(type);  // instances of heap types own a reference to their type
}

// The inputs an instance holds may hold the instance in turn.
int vesperon_traverse(PyObject* self, visitproc visit, void* arg) {
  Py_VISIT(instance_of(self).inputs[0]);
  Py_VISIT(instance_of(self).inputs[1]);
  Py_VISIT(Py_TYPE(self));
  return 0;
}

// Only an instance in unreachable garbage is cleared: nothing can ask it for pretty() afterwards.
int vesperon_clear(PyObject* self) {
  Py_CLEAR(instance_of(self).inputs[0]);
  Py_CLEAR(instance_of(self).inputs[1]);
  return 0;
}

// The report, built on first use.
const value::Node& report_of(PyObject* self) {
  engine::Vesperon& comparison = instance_of(self).comparison;
  engine::finish_report(comparison);
  return comparison.report.root();
}

PyObject* vesperon_to_dict(PyObject* self, PyObject*) {
  return call_guarded([&] {
    GcPause pause;
    return value_to_py(report_of(self)).release();
  });
}

PyObject* vesperon_pretty(PyObject* self, PyObject* args, PyObject* kwargs) {
  PyVesperon& instance = instance_of(self);
  return call_guarded(
      [&] { return pretty_method(instance.comparison, instance.inputs, args, kwargs).release(); });
}

PyObject* vesperon_repr(PyObject* self) {
  return call_guarded([&] { return comparison_repr(report_of(self)); });
}

int vesperon_bool(PyObject* self) {
  return engine::report_sections(comparison_of(self)) == 0 ? 0 : 1;
}

Py_ssize_t vesperon_length(PyObject* self) {
  return static_cast<Py_ssize_t>(engine::report_sections(comparison_of(self)));
}

PyMethodDef vesperon_methods[] = {
    {"to_dict", vesperon_to_dict, METH_NOARGS, "to_dict($self)\n--\n\n"},
    {"pretty", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(vesperon_pretty)),
     METH_VARARGS | METH_KEYWORDS,
     "pretty($self, *, compact=False, max_depth=5, context=0, no_color=False, "
     "path_header=False)\n--\n\n"},
    {nullptr, nullptr, 0, nullptr},
};

PyType_Slot vesperon_slots[] = {
    {Py_tp_doc, const_cast<char*>("Vesperon(t1, t2, **kwargs)\n--\n\n")},
    {Py_tp_new, reinterpret_cast<void*>(vesperon_new)},
    {Py_tp_dealloc, reinterpret_cast<void*>(vesperon_dealloc)},
    {Py_tp_traverse, reinterpret_cast<void*>(vesperon_traverse)},
    {Py_tp_clear, reinterpret_cast<void*>(vesperon_clear)},
    {Py_tp_repr, reinterpret_cast<void*>(vesperon_repr)},
    {Py_nb_bool, reinterpret_cast<void*>(vesperon_bool)},
    {Py_mp_length, reinterpret_cast<void*>(vesperon_length)},
    {Py_tp_methods, vesperon_methods},
    {0, nullptr},
};

// "builtins." makes the class report builtins as its module. No Py_TPFLAGS_BASETYPE: the class
// cannot be subclassed, and it has neither an instance __dict__ nor weak references.
PyType_Spec vesperon_spec = {
    "builtins.Vesperon",
    static_cast<int>(sizeof(PyVesperon)),
    0,
    Py_TPFLAGS_DEFAULT | Py_TPFLAGS_HAVE_GC,
    vesperon_slots,
};

// The class, created once per process and reused by later initialisations.
PyObject* vesperon_class() {
  static PyObject* created = nullptr;
  if (created == nullptr) created = PyType_FromSpec(&vesperon_spec);
  return created;
}

PyModuleDef module_definition = {
    PyModuleDef_HEAD_INIT, "hexalume", "", 0, nullptr, nullptr, nullptr, nullptr, nullptr,
};

PyObject* initialise() {
  // The module is created once per process and kept. The interpreter that created it may ask
  // again (after `del sys.modules["hexalume"]`) and gets the same module; another interpreter
  // in the same process cannot share it.
  static PyObject* module = nullptr;
  static std::int64_t owner = -1;
  std::int64_t interpreter = PyInterpreterState_GetID(PyInterpreterState_Get());
  if (module != nullptr) {
    if (interpreter == owner) return Py_NewRef(module);
    raise_second_initialisation();
    return nullptr;
  }
  PyRef created = PyRef::steal(PyModule_Create(&module_definition));
  if (!created) return nullptr;
  PyObject* type = vesperon_class();
  if (type == nullptr) {
    raise_class_init_failed(kClassName);
    return nullptr;
  }
  PyRef names = PyRef::steal(PyObject_GetAttrString(created.get(), "__all__"));
  if (!names) {
    if (!PyErr_ExceptionMatches(PyExc_AttributeError)) return nullptr;
    PyErr_Clear();
    names = PyRef::steal(PyList_New(0));
    if (!names || PyObject_SetAttrString(created.get(), "__all__", names.get()) != 0) {
      return nullptr;
    }
  }
  PyRef name = PyRef::steal(PyUnicode_FromString(kClassName));
  if (!name || PyList_Append(names.get(), name.get()) != 0) return nullptr;
  if (PyModule_AddObjectRef(created.get(), kClassName, type) != 0) return nullptr;
  install_cancel_hook();
  module = created.release();
  owner = interpreter;
  return Py_NewRef(module);
}

}  // namespace

}  // namespace hexalume::python

PyMODINIT_FUNC PyInit_hexalume() {
  return hexalume::python::call_guarded([] { return hexalume::python::initialise(); });
}
