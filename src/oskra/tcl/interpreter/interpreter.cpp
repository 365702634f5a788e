#include <nanobind/nanobind.h>

NB_MODULE(interpreter, m) {}
