#include "forms/model.h"

namespace forms {

const Item* WindowTemplate::find(const std::string& name) const {
  for (const Item& it : items)
    if (!it.name.empty() && it.name == name) return &it;
  return nullptr;
}

const Item* WindowTemplate::findId(uint32_t id) const {
  for (const Item& it : items)
    if (it.id == id) return &it;
  return nullptr;
}

const WindowTemplate* TemplateData::findWindow(uint32_t id) const {
  for (const WindowTemplate& w : windows)
    if (w.id == id) return &w;
  return nullptr;
}

}  // namespace forms
