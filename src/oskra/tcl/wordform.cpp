#include <nanobind/nanobind.h>

NB_MODULE(wordform, m) {}
