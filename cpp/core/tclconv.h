// Tcl's own number and boolean syntax, read straight from Tcl's C library.
//
// These are the quiet conversions behind the casts: they never build an
// error message. Each returns
//   CONV_OK          with *out set to a new reference,
//   CONV_NO          the text is not of that kind (no Python error set),
//   CONV_UNSUPPORTED a value this fast path does not handle (a non-str type,
//                    a str with NUL or lone surrogates, an integer beyond
//                    64 bits, ...); no Python error set. The caller then takes
//                    the tkinter path, which has the final word.
// The accepted syntax is the one tkinter's getint/getdouble/getboolean use,
// because the same Tcl functions are called on the same UTF-8 bytes.
#pragma once
#include <Python.h>
#include <tcl.h>

namespace oskra {

enum ConvResult { CONV_OK = 0, CONV_NO = 1, CONV_UNSUPPORTED = 2 };

// The Tcl interpreter of a _tkinter.tkapp object, or null (no error set)
// for anything else.
Tcl_Interp *tkapp_interp(PyObject *tkapp);

// True for an exact _tkinter.Tcl_Obj, whose Tcl value is then *out.
bool tclobj_value(PyObject *obj, Tcl_Obj **out);

ConvResult conv_int(PyObject *value, PyObject **out);
ConvResult conv_double(PyObject *value, PyObject **out);
ConvResult conv_boolean(PyObject *value, PyObject **out);

// conv_int, else conv_double, for a str, in one parse: CONV_NO means the
// text is neither. Tcl_Obj values and integers beyond 64 bits are
// CONV_UNSUPPORTED (take the two conversions one by one).
ConvResult conv_number(PyObject *value, PyObject **out);

// tkinter's getint, getdouble or getboolean (`method`, a method name of the
// tkapp) for a thread that does not own the tkapp's interpreter: the same
// results and the same TclError messages, without touching the interpreter
// or a Tcl value that it may share. New reference, or null with an error.
enum ForeignKind { FOREIGN_INT, FOREIGN_DOUBLE, FOREIGN_BOOLEAN };
PyObject *foreign_conversion(ForeignKind kind, PyObject *tkapp, PyObject *method, PyObject *value);

// True for text that reads as a decimal number written with a leading zero
// ("0150", "-007", "+012", "00", "00.5"; Tcl's whitespace around it
// allowed): Tcl 8.6 takes such an integer for octal, so a serial number or
// a postcode would change its value. "0", "0.5" and "0x1F" are not.
bool leading_zero_decimal(PyObject *str);

}  // namespace oskra
