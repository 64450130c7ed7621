#include "platform/window/definition_check.hpp"

#include "platform/window/picture.hpp"

namespace quorvel {

bool buildable(const WindowDefinition& d, std::span<const FieldRef> fields) {
  std::size_t dataControls = 0;
  for (std::size_t i = 0; i < d.controls.size(); ++i) {
    const ControlDef& c = d.controls[i];
    if (c.number != static_cast<int>(i) + 1) return false;
    if (c.container < 0 || c.container >= c.number) return false;
    const ControlKind on = c.container == 0
                               ? ControlKind::Sheet
                               : d.controls[static_cast<std::size_t>(c.container) - 1].kind;
    if (c.container != 0 && on != ControlKind::Sheet && on != ControlKind::Tab) return false;
    if ((c.kind == ControlKind::Tab) != (c.container != 0 && on == ControlKind::Sheet))
      return false;
    if (c.x < 0 || c.y < 0 || (c.w < 0 && c.w != kAuto) || (c.h < 0 && c.h != kAuto)) return false;
    if (c.kind == ControlKind::Entry && !Picture::parse(c.picture)) return false;
    if (isDataControl(c.kind)) {
      if (dataControls >= fields.size()) return false;
      const FieldRef& f = fields[dataControls++];
      if (std::visit([](auto* p) { return p == nullptr; }, f)) return false;
      if (c.kind == ControlKind::List && !std::holds_alternative<Text*>(f)) return false;
    }
  }
  return dataControls == fields.size();
}

}  // namespace quorvel
