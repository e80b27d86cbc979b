// The class body of Velmora: its methods, signatures, annotations, docstrings.
#pragma once

#include <array>

#include "binding/method_object.hpp"
#include "velmora/steps.hpp"

namespace velmora {

extern const std::array<tavrin::MethodDef, static_cast<std::size_t>(Step::count)> kMethods;

inline const tavrin::MethodDef &method_def(Step step) { return kMethods[static_cast<std::size_t>(step)]; }

}  // namespace velmora
