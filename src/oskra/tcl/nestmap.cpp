#include <nanobind/nanobind.h>

NB_MODULE(nestmap, m) {}
