#include "app/dialog/dialog_model.h"

#include <algorithm>

namespace zel {

Control& DialogModel::Item(int id) {
  if (Control* c = Find(id)) return *c;
  Control& added = controls_.emplace_back();
  added.id = id;
  return added;
}

const Control* DialogModel::Find(int id) const {
  auto it = std::find_if(controls_.begin(), controls_.end(), [id](const Control& c) { return c.id == id; });
  return it == controls_.end() ? nullptr : &*it;
}

Control* DialogModel::Find(int id) {
  return const_cast<Control*>(static_cast<const DialogModel*>(this)->Find(id));
}

}  // namespace zel
