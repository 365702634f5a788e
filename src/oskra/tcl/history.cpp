#include <nanobind/nanobind.h>

NB_MODULE(history, m) {}
