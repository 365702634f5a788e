// Every interned string the modules use: attribute and method names, Tcl
// words, and the few fixed texts and formats. The list below is the only
// place a name is written; `names` holds them as fields of the same name.
//
// X(field, text): `text` is interned once per process, by the state set-up
// (support/state.cpp), and lives as long as the process.
#pragma once
#include <Python.h>

// clang-format off
#define OSKRA_NAMES(X)                                                            \
    /* attributes and methods of our own objects and of Python's */              \
    X(all_items, "all_items") X(all_keys, "all_keys") X(api, "api")               \
    X(append, "append") X(args, "args") X(array_get, "array_get")                 \
    X(array_get_obj, "array_get_obj") X(array_get_str, "array_get_str")          \
    X(array_index, "array_index") X(array_names, "array_names")                   \
    X(array_set, "array_set") X(array_unset, "array_unset")                       \
    X(build_tclcmd, "build_tclcmd") X(byref, "byref") X(cache_, "_cache")         \
    X(call, "call") X(cast_, "cast_") X(cast_any, "cast_any")                     \
    X(cast_array, "cast_array") X(cast_boolean, "cast_boolean")                   \
    X(cast_double, "cast_double") X(cast_int, "cast_int")                         \
    X(cast_keyed_list, "cast_keyed_list") X(cast_list, "cast_list")                \
    X(clear, "clear") X(cls, "cls") X(cmds, "cmds")                              \
    X(compile, "compile") X(create, "create") X(createcommand, "createcommand")   \
    X(current, "current") X(debug, "debug") X(delete_, "delete")                  \
    X(disabled, "disabled") X(enable, "enable") X(eval, "eval")                   \
    X(exists, "exists") X(format, "format") X(from_tcl, "from_tcl")               \
    X(get, "get") X(get_obj, "get_obj") X(get_str, "get_str")                     \
    X(get_time, "get_time") X(getboolean, "getboolean")                           \
    X(getdouble, "getdouble") X(getint, "getint") X(getvar, "getvar")             \
    X(global_ns, "global_ns") X(history, "history") X(id, "id")                   \
    X(is_array, "is_array") X(is_proc, "is_proc")                                 \
    X(isEnabledFor, "isEnabledFor") X(item_cast, "item_cast") X(items, "items")   \
    X(log, "log") X(maxlen, "maxlen") X(nocomplain, "nocomplain")                 \
    X(ns, "ns") X(objs, "objs") X(origin, "origin") X(pattern, "pattern")         \
    X(proc_arg_default, "proc_arg_default") X(proc_args, "proc_args")             \
    X(proc_body, "proc_body") X(procs, "procs") X(re, "re")                       \
    X(record, "record") X(record_entry, "_record") X(remove, "remove") X(rename, "rename")                   \
    X(search, "search") X(set, "set") X(setvar, "setvar")                         \
    X(startswith, "startswith") X(strftime, "strftime") X(tcl, "tcl")             \
    X(tk, "tk") X(typecast, "typecast") X(unset, "unset")                         \
    X(unsetvar, "unsetvar") X(update, "update")                                   \
    X(update_wrapper, "update_wrapper") X(values, "values") X(var_type, "var_type") \
    X(vars, "vars")                                                               \
    /* dunder names */                                                            \
    X(dunder_callbacks, "__callbacks__") X(dunder_commands, "__commands__")       \
    X(dunder_class, "__class__")             \
    X(dunder_contains, "__contains__") X(dunder_del, "__del__")                   \
    X(dunder_enter, "__enter__") X(dunder_exit, "__exit__")                       \
    X(dunder_func, "__func__") X(dunder_getattribute, "__getattribute__")         \
    X(dunder_init, "__init__") X(dunder_name, "__name__")                         \
    X(dunder_str, "__str__") X(dunder_tclobj, "__tclobj__")                       \
    X(dunder_wordform, "__wordform__") X(dunder_wrapped, "__wrapped__")           \
    /* Tcl words and variable names */                                            \
    X(apply_cmd, "::apply") X(array_cmd, "::array") X(body, "body")               \
    X(children, "children") X(if_cmd, "::if") X(inscope, "inscope")               \
    X(namespace_export, "::namespace export") X(subst_cmd, "::subst")             \
    X(all_below, "::*") X(stand_in, "x")                                          \
    X(code, "code") X(commands, "commands") X(export_, "export")                  \
    X(forget, "forget") X(import_, "import") X(parent, "parent") X(which, "which") \
    X(default_, "default") X(errorInfo, "errorInfo")                              \
    X(errorInfo_abs, "::errorInfo") X(info_cmd, "::info")                         \
    X(namespace_, "namespace") X(namespace_cmd, "::namespace") X(names_, "names") \
    X(opt_clear, "-clear") X(opt_command, "-command") X(opt_force, "-force")      \
    X(opt_variable, "-variable") X(rename_cmd, "::rename") X(set_cmd, "::set") X(size, "size") \
    X(true_, "true") X(false_, "false")                                           \
    /* pieces of text */                                                          \
    X(empty, "") X(colons, "::") X(dash, "-") X(dot, ".") X(space, " ")           \
    X(colon_space, ": ")                                                          \
    /* constants of oskra.tcl.wordform */                                         \
    X(flag_use_braces, "USE_BRACES")                                            \
    X(flag_dont_use_braces, "TCL_DONT_USE_BRACES")                                \
    X(flag_braces_unmatched, "BRACES_UNMATCHED")                                     \
    /* formats and messages */                                                    \
    X(brace_fmt, "{%s}") X(history_append_fmt, "%% %s")                           \
    X(timestamp_fmt, "%Y-%m-%dT%H:%M:%S.%f")                                      \
    X(no_marker_fmt, "No such marker: %s")                                        \
    X(history_enabled_msg, "TclHistory is enabled.")                              \
    X(history_disabled_msg, "TclHistory is disabled.")                            \
    X(quick_code_fmt, "<tcl.Quick magic, referring Tcl code ::%s>")               \
    X(invalid_command_empty, "invalid command name \"\"")
// clang-format on

namespace oskra {

struct Names {
#define OSKRA_NAME_FIELD(field, text) PyObject *field;
    OSKRA_NAMES(OSKRA_NAME_FIELD)
#undef OSKRA_NAME_FIELD
};

// This module's copy of the process's table (support/state.h): read on
// every call, so kept beside the code that reads it.
extern Names names;

}  // namespace oskra
