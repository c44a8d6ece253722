#pragma once
// LoadVisibleItems over the user's store.
#include "store/ItemStore.h"
#include "view/ViewState.h"

namespace kv {

int LoadVisibleItems(ViewState& state, ItemStore& store);

}  // namespace kv
