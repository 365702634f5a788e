#include "core/pyref.h"
