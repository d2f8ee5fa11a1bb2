#include "core/state.h"

namespace lyfs {
namespace {

stRvFS* g_rvfs = nullptr;

}  // namespace

stRvFS* library_state() {
    return g_rvfs;
}

void set_library_state(stRvFS* state) {
    g_rvfs = state;
}

}  // namespace lyfs
