// The command line of a TclCommand: its words, with keyword arguments
// turned into dashed options.
#include <vector>

#include "core/convert.h"
#include "command.h"

namespace oskra::ns::cmd {

namespace {

// The options of a mapping as a flat tuple (key1, value1, key2, ...), read
// in one go as **keywords would see them.
PyObject *option_pairs(PyObject *mapping) {
    Ref d = PyDict_CheckExact(mapping) ? Ref::borrow(mapping) : Ref::steal(PyDict_New());
    if (!d || (d.get() != mapping && PyDict_Merge(d.get(), mapping, 1) < 0)) return nullptr;
    Py_ssize_t n = PyDict_GET_SIZE(d.get());
    Ref out = Ref::steal(PyTuple_New(2 * n));
    if (!out) return nullptr;
    Py_ssize_t pos = 0, i = 0;
    PyObject *key, *value;
    // Nothing here runs Python code: the dict cannot change meanwhile.
    while (i < n && PyDict_Next(d.get(), &pos, &key, &value)) {
        PyTuple_SET_ITEM(out.get(), 2 * i, Py_NewRef(key));
        PyTuple_SET_ITEM(out.get(), 2 * i + 1, Py_NewRef(value));
        ++i;
    }
    return out.release();
}

// "-" + key; the option names of a program are few, so they are kept.
PyObject *dashed(PyObject *key) {
    static PyObject *cache = nullptr;
    if (!PyUnicode_CheckExact(key)) return PyUnicode_Concat(names.dash, key);
    if (!cache && !(cache = PyDict_New())) return nullptr;
    PyObject *hit = PyDict_GetItemWithError(cache, key);
    if (hit) return Py_NewRef(hit);
    if (PyErr_Occurred()) return nullptr;
    PyObject *text = PyUnicode_Concat(names.dash, key);
    if (!text) return nullptr;
    if (PyDict_GET_SIZE(cache) >= 4096) PyDict_Clear(cache);
    if (PyDict_SetItem(cache, key, text) < 0) PyErr_Clear();  // caching is optional
    return text;
}

// Whether an option name equals a keyword argument's name.
int same_key(PyObject *key, PyObject *kwname) {
    if (key == kwname) return 1;
    if (PyUnicode_CheckExact(key))
        return PyUnicode_GET_LENGTH(key) == PyUnicode_GET_LENGTH(kwname) &&
                PyUnicode_Compare(key, kwname) == 0;
    return PyObject_RichCompareBool(key, kwname, Py_EQ);
}

}  // namespace

// (cmd_name,) + self.args + tclobj(args), then the dashed options of
// self.keywords updated with kwargs: a stored option keeps its place and
// takes the new value, new ones follow in call order. Built in one tuple.
// The fields are owned while in use and the stored options are read once
// into a snapshot: the conversions and the option names' comparisons run
// Python code, which may assign the fields or change the dict.
PyObject *build_impl(PyObject *self, PyObject *const *args, Py_ssize_t nargs, PyObject *kwnames) {
    Ref name = FIELD(self, cmd_name);
    if (!name) return nullptr;
    Ref fixed = FIELD(self, args);
    if (!fixed) return nullptr;
    if (!PyTuple_Check(fixed.get()))
        return PyErr_Format(PyExc_TypeError, "can only concatenate tuple (not \"%.200s\") to tuple",
                            Py_TYPE(fixed.get())->tp_name);
    Py_ssize_t nfixed = PyTuple_GET_SIZE(fixed.get());
    Py_ssize_t nkw = kwnames ? PyTuple_GET_SIZE(kwnames) : 0;
    // Every value is converted before the options are expanded.
    Ref converted = Ref::steal(PyTuple_New(nargs + nkw));
    if (!converted) return nullptr;
    for (Py_ssize_t i = 0; i < nargs + nkw; ++i) {
        PyObject *v = tclobj(args[i]);
        if (!v) return nullptr;
        PyTuple_SET_ITEM(converted.get(), i, v);
    }
    Ref stored = FIELD(self, keywords);
    if (!stored) return nullptr;
    Ref options = Ref::steal(option_pairs(stored.get()));
    if (!options) return nullptr;
    Py_ssize_t nstored = PyTuple_GET_SIZE(options.get()) / 2;
    // For each stored option, the keyword argument that replaces its value.
    std::vector<Py_ssize_t> replaced_by(nstored, -1);
    std::vector<char> is_new(nkw, 1);
    Py_ssize_t nnew = nkw;
    for (Py_ssize_t i = 0; nkw && i < nstored; ++i) {
        PyObject *key = PyTuple_GET_ITEM(options.get(), 2 * i);
        for (Py_ssize_t j = 0; j < nkw; ++j) {
            if (!is_new[j]) continue;
            int eq = same_key(key, PyTuple_GET_ITEM(kwnames, j));
            if (eq < 0) return nullptr;
            if (eq) {
                replaced_by[i] = j;
                is_new[j] = 0;
                --nnew;
                break;
            }
        }
    }
    Ref words = Ref::steal(PyTuple_New(1 + nfixed + nargs + 2 * (nstored + nnew)));
    if (!words) return nullptr;
    PyObject *w = words.get();
    PyTuple_SET_ITEM(w, 0, name.release());
    Py_ssize_t pos = 1;
    for (Py_ssize_t i = 0; i < nfixed; ++i)
        PyTuple_SET_ITEM(w, pos++, Py_NewRef(PyTuple_GET_ITEM(fixed.get(), i)));
    for (Py_ssize_t i = 0; i < nargs; ++i)
        PyTuple_SET_ITEM(w, pos++, Py_NewRef(PyTuple_GET_ITEM(converted.get(), i)));
    auto option = [&](PyObject *key, PyObject *value) -> bool {
        if (!PyUnicode_Check(key)) {
            PyErr_SetString(PyExc_TypeError, "keywords must be strings");
            return false;
        }
        PyObject *d = dashed(key);
        if (!d) return false;
        PyTuple_SET_ITEM(w, pos++, d);
        PyTuple_SET_ITEM(w, pos++, Py_NewRef(value));
        return true;
    };
    for (Py_ssize_t i = 0; i < nstored; ++i) {
        Py_ssize_t j = replaced_by[i];
        PyObject *value = j < 0 ? PyTuple_GET_ITEM(options.get(), 2 * i + 1)
                                : PyTuple_GET_ITEM(converted.get(), nargs + j);
        if (!option(PyTuple_GET_ITEM(options.get(), 2 * i), value)) return nullptr;
    }
    for (Py_ssize_t j = 0; j < nkw; ++j)
        if (is_new[j] && !option(PyTuple_GET_ITEM(kwnames, j), PyTuple_GET_ITEM(converted.get(), nargs + j)))
            return nullptr;
    return words.release();
}

PyObject *kwargs_to_dashed_args(PyObject *, PyObject *const *args, Py_ssize_t nargs, PyObject *kwnames) {
    if (nargs)
        return PyErr_Format(PyExc_TypeError,
                            "kwargs_to_dashed_args() takes 0 positional arguments but %zd %s given", nargs,
                            nargs == 1 ? "was" : "were");
    Py_ssize_t nkw = kwnames ? PyTuple_GET_SIZE(kwnames) : 0;
    Ref out = Ref::steal(PyTuple_New(2 * nkw));
    if (!out) return nullptr;
    for (Py_ssize_t i = 0; i < nkw; ++i) {
        PyObject *d = dashed(PyTuple_GET_ITEM(kwnames, i));
        if (!d) return nullptr;
        PyTuple_SET_ITEM(out.get(), 2 * i, d);
        PyTuple_SET_ITEM(out.get(), 2 * i + 1, Py_NewRef(args[i]));
    }
    return out.release();
}

}  // namespace oskra::ns::cmd
