// Command names kept as Tcl values (see kept_words.h).
#include "support/kept_words.h"

#include <tcl.h>

#include <cstring>

#include "support/tclapp.h"

namespace oskra {

namespace {

// Names seen by the thread that owns the cache, each with its Tcl value
// (a _tkinter.Tcl_Obj). Bounded: a script that calls ever new names (made
// up at run time) clears it now and then.
constexpr Py_ssize_t MAX_KEPT = 512;
PyObject *kept = nullptr;
Tcl_ThreadId kept_thread;

bool keepable(PyObject *name) {
    if (!PyUnicode_CheckExact(name) || !PyUnicode_IS_ASCII(name)) return false;
    Py_ssize_t n = PyUnicode_GET_LENGTH(name);
    return n > 0 && (Py_ssize_t)strlen((const char *)PyUnicode_DATA(name)) == n;
}

PyObject *kept_word(PyObject *name) {
    PyObject *word = PyDict_GetItemWithError(kept, name);
    if (word) return Py_NewRef(word);
    if (PyErr_Occurred()) return nullptr;
    if (PyDict_GET_SIZE(kept) >= MAX_KEPT) PyDict_Clear(kept);
    word = new_tcl_obj((const char *)PyUnicode_DATA(name));
    if (!word) return nullptr;
    if (PyDict_SetItem(kept, name, word) < 0) {
        Py_DECREF(word);
        return nullptr;
    }
    return word;
}

}  // namespace

PyObject *command_word(PyObject *tk, PyObject *name) {
    if (!keepable(name) || !interp_on_own_thread(tk)) return Py_NewRef(name);
    Tcl_ThreadId current = Tcl_GetCurrentThread();
    if (!kept) {
        if (!(kept = PyDict_New())) {  // kept for the life of the process
            PyErr_Clear();
            return Py_NewRef(name);
        }
        kept_thread = current;
    }
    if (kept_thread != current) return Py_NewRef(name);
    PyObject *word = kept_word(name);
    if (!word) {
        PyErr_Clear();
        return Py_NewRef(name);
    }
    return word;
}

}  // namespace oskra
