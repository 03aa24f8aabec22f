// The observables of the disc (src/exact/observables.h) as methods of velmora.Disc.
#pragma once

#include <pybind11/pybind11.h>

#include <functional>

#include "exact/disc_model.h"

namespace velmora_python {

// Adds the methods to the module's class Disc; `model_of` gives the model of
// a Disc instance.
void bind_observables(pybind11::module_& m, std::function<const velmora::disc_model&(pybind11::handle)> model_of);

}  // namespace velmora_python
