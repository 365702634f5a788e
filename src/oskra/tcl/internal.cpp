#include <nanobind/nanobind.h>

NB_MODULE(internal, m) {}
