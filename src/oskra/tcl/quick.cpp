#include <nanobind/nanobind.h>

NB_MODULE(quick, m) {}
