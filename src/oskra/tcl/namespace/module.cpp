#include <nanobind/nanobind.h>

NB_MODULE(namespace, m) {}
