#pragma once
// What every window runtime refuses to build, so that no runtime has to guess:
// numbers out of order, a container that is not a sheet or tab (or a tab that
// is not on a sheet), a negative place or size other than auto, an entry whose
// picture does not parse, a null field, a list not bound to a text, or a field
// count that differs from the number of data controls.
#include <span>

#include "platform/window_definition.hpp"
#include "platform/window_runtime.hpp"

namespace quorvel {

// Entries and lists are bound to fields, in control order.
inline bool isDataControl(ControlKind kind) {
  return kind == ControlKind::Entry || kind == ControlKind::List;
}

bool buildable(const WindowDefinition& definition, std::span<const FieldRef> fields);

}  // namespace quorvel
