#include "support/params.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <vector>

#include "support/compat.h"

namespace oskra {

namespace {

// "'a'", "'a' and 'b'", "'a', 'b', and 'c'": the required parameters not
// given, listed as Python lists them.
std::string missing_list(const Param *params, int nrequired, PyObject *const *out, int count) {
    std::string list;
    int seen = 0;
    for (int i = 0; i < nrequired; ++i) {
        if (out[i]) continue;
        if (seen) list += count == 2 ? " and " : (seen == count - 1 ? ", and " : ", ");
        list += std::string("'") + params[i].name + "'";
        ++seen;
    }
    return list;
}

int index_of(const Params &p, int n, PyObject *key) {
    for (int i = 0; i < n; ++i)
        if (PyUnicode_CompareWithASCIIString(key, p.params[i].name) == 0) return i;
    return -1;
}

// Python's edit distance for "Did you mean" suggestions: moves cost 2, a
// change of case 1; above `max_cost` the exact figure does not matter.
constexpr size_t MOVE_COST = 2, CASE_COST = 1, MAX_NAME = 40;

size_t substitution_cost(char a, char b) {
    if ((a & 31) != (b & 31)) return MOVE_COST;
    if (a == b) return 0;
    auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? char(c + ('a' - 'A')) : c; };
    return lower(a) == lower(b) ? CASE_COST : MOVE_COST;
}

size_t edit_distance(const char *a, size_t na, const char *b, size_t nb, size_t max_cost) {
    while (na && nb && a[0] == b[0]) ++a, ++b, --na, --nb;
    while (na && nb && a[na - 1] == b[nb - 1]) --na, --nb;
    if (!na || !nb) return (na + nb) * MOVE_COST;
    if (na > MAX_NAME || nb > MAX_NAME) return max_cost + 1;
    if (nb < na) std::swap(a, b), std::swap(na, nb);
    if ((nb - na) * MOVE_COST > max_cost) return max_cost + 1;
    size_t row[MAX_NAME];
    for (size_t i = 0; i < na; ++i) row[i] = (i + 1) * MOVE_COST;
    size_t result = 0;
    for (size_t j = 0; j < nb; ++j) {
        size_t diagonal = result = j * MOVE_COST, minimum = SIZE_MAX;
        for (size_t i = 0; i < na; ++i) {
            size_t substitute = diagonal + substitution_cost(b[j], a[i]);
            diagonal = row[i];
            result = std::min(std::min(result, diagonal) + MOVE_COST, substitute);
            row[i] = result;
            minimum = std::min(minimum, result);
        }
        if (minimum > max_cost) return max_cost + 1;
    }
    return result;
}

// The parameter closest to the unknown keyword `key`, as Python picks it
// (no more than a third of the characters changed), or null.
const char *closest_param(const Params &p, int n, PyObject *key) {
    Py_ssize_t nkey;
    const char *k = PyUnicode_AsUTF8AndSize(key, &nkey);
    if (!k) {
        PyErr_Clear();
        return nullptr;
    }
    const char *best = nullptr;
    size_t best_distance = SIZE_MAX;
    for (int i = 0; i < n; ++i) {
        const char *name = p.params[i].name;
        size_t len = std::strlen(name);
        size_t max_cost = std::min(((size_t)nkey + len + 3) * MOVE_COST / 6, best_distance - 1);
        size_t d = edit_distance(k, (size_t)nkey, name, len, max_cost);
        if (d <= max_cost) best = name, best_distance = d;
    }
    return best;
}

// The binding proper, for positionals args[0, nargs) and the keywords
// kwnames (values after the positionals), all meant for named parameters.
bool bind_named(const Params &p, int nself, PyObject *const *args, Py_ssize_t nargs, PyObject *kwnames,
                PyObject **out) {
    const int n = p.count(), nrequired = p.required();
    const char *fname = p.fname;
    if (nargs > n) {
        if (nrequired == n)
            PyErr_Format(PyExc_TypeError, "%s() takes %d positional argument%s but %zd %s given", fname,
                         n + nself, n + nself == 1 ? "" : "s", nargs + nself,
                         nargs + nself == 1 ? "was" : "were");
        else
            PyErr_Format(PyExc_TypeError, "%s() takes from %d to %d positional arguments but %zd were given",
                         fname, nrequired + nself, n + nself, nargs + nself);
        return false;
    }
    for (int i = 0; i < n; ++i) out[i] = i < nargs ? args[i] : nullptr;
    Py_ssize_t nkw = kwnames ? PyTuple_GET_SIZE(kwnames) : 0;
    if (nkw && p.positional_only) {
        PyErr_Format(PyExc_TypeError, "%s() takes no keyword arguments", fname);
        return false;
    }
    for (Py_ssize_t k = 0; k < nkw; ++k) {
        PyObject *key = PyTuple_GET_ITEM(kwnames, k);
        int i = index_of(p, n, key);
        if (i < 0) {
            const char *hint = keyword_suggestions ? closest_param(p, n, key) : nullptr;
            if (hint)
                PyErr_Format(PyExc_TypeError,
                             "%s() got an unexpected keyword argument '%U'. Did you mean '%s'?", fname, key,
                             hint);
            else PyErr_Format(PyExc_TypeError, "%s() got an unexpected keyword argument '%U'", fname, key);
            return false;
        }
        if (out[i]) {
            PyErr_Format(PyExc_TypeError, "%s() got multiple values for argument '%s'", fname,
                         p.params[i].name);
            return false;
        }
        out[i] = args[nargs + k];
    }
    int missing = 0;
    for (int i = 0; i < nrequired; ++i) missing += !out[i];
    if (!missing) return true;
    std::string list = missing_list(p.params, nrequired, out, missing);
    PyErr_Format(PyExc_TypeError, "%s() missing %d required positional argument%s: %s", fname, missing,
                 missing == 1 ? "" : "s", list.c_str());
    return false;
}

// With *args and/or **kwargs: the positionals past the named ones go to
// *args, the keywords that name none of them to **kwargs, and the rest is
// bound as usual.
bool bind_with_extras(const Params &p, int nself, PyObject *const *args, Py_ssize_t nargs, PyObject *kwnames,
                      PyObject **out, Ref *extra_args, Ref *extra_kwargs) {
    const int n = p.count();
    Py_ssize_t npos = extra_args && nargs > n ? n : nargs;
    if (extra_args) {
        *extra_args = Ref::steal(PyTuple_New(nargs - npos));
        if (!*extra_args) return false;
        for (Py_ssize_t i = npos; i < nargs; i++)
            PyTuple_SET_ITEM(extra_args->get(), i - npos, Py_NewRef(args[i]));
    }
    if (extra_kwargs) *extra_kwargs = Ref();
    Py_ssize_t nkw = kwnames ? PyTuple_GET_SIZE(kwnames) : 0;
    bool all_named = true;
    for (Py_ssize_t k = 0; k < nkw && extra_kwargs; k++)
        all_named = all_named && index_of(p, n, PyTuple_GET_ITEM(kwnames, k)) >= 0;
    if (npos == nargs && all_named) return bind_named(p, nself, args, nargs, kwnames, out);
    // The arguments left for the named parameters.
    std::vector<PyObject *> stack(args, args + npos);
    Ref kept = Ref::steal(PyList_New(0));
    if (!kept) return false;
    for (Py_ssize_t k = 0; k < nkw; k++) {
        PyObject *key = PyTuple_GET_ITEM(kwnames, k), *value = args[nargs + k];
        if (!extra_kwargs || index_of(p, n, key) >= 0) {
            stack.push_back(value);
            if (PyList_Append(kept.get(), key) < 0) return false;
            continue;
        }
        if (!*extra_kwargs && !(*extra_kwargs = Ref::steal(PyDict_New()))) return false;
        if (PyDict_SetItem(extra_kwargs->get(), key, value) < 0) return false;
    }
    Ref kept_names = Ref::steal(PyList_AsTuple(kept.get()));
    if (!kept_names) return false;
    return bind_named(p, nself, stack.data(), npos,
                      PyTuple_GET_SIZE(kept_names.get()) ? kept_names.get() : nullptr, out);
}

}  // namespace

int Params::count() const {
    int n = 0;
    while (n < MAX && params[n].name) ++n;
    return n;
}

int Params::required() const {
    int n = 0;
    while (n < MAX && params[n].name && !params[n].default_text) ++n;
    return n;
}

bool Params::bind(PyObject *const *args, Py_ssize_t nargs, PyObject *kwnames, PyObject **out, Ref *extra_args,
                  Ref *extra_kwargs) const {
    nargs = PyVectorcall_NARGS(nargs);
    if (self == SelfArg::first) {
        if (nargs < 1) {
            PyErr_Format(PyExc_TypeError, "%s() needs self", fname);
            return false;
        }
        ++args;
        --nargs;
    }
    const int nself = self == SelfArg::none ? 0 : 1;
    try {
        if (!extra_args && !extra_kwargs) return bind_named(*this, nself, args, nargs, kwnames, out);
        return bind_with_extras(*this, nself, args, nargs, kwnames, out, extra_args, extra_kwargs);
    } catch (const std::bad_alloc &) {
        PyErr_NoMemory();
        return false;
    }
}

bool Params::bind_over_defaults(PyObject *const *args, Py_ssize_t nargs, PyObject *kwnames,
                                PyObject **out) const {
    PyObject *given[MAX];
    if (!bind(args, nargs, kwnames, given)) return false;
    for (int i = 0, n = count(); i < n; ++i)
        if (given[i]) out[i] = given[i];
    return true;
}

std::string Params::text_signature() const {
    std::string sig = "(";
    auto add = [&](const std::string &piece) { sig += (sig.size() > 1 ? ", " : "") + piece; };
    if (self != SelfArg::none) add("$self");
    if (self != SelfArg::none && !positional_only) add("/");
    for (int i = 0; i < count(); ++i)
        add(std::string(params[i].name) +
            (params[i].default_text ? std::string("=") + params[i].default_text : ""));
    if (positional_only) add("/");
    if (star) add(std::string("*") + star);
    if (starstar) add(std::string("**") + starstar);
    return sig + ")";
}

const char *Params::doc_with_signature(const char *name, const char *doc) const {
    // Made once per function while its module is set up; kept by the method definition.
    auto *text = new std::string(std::string(name) + text_signature() + "\n--\n\n" + (doc ? doc : ""));
    return text->c_str();
}

}  // namespace oskra
