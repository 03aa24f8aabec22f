#include "exact/interruption.h"

namespace velmora {

namespace {
thread_local interruption_check current_check = nullptr;
thread_local void* current_context = nullptr;
}  // namespace

interruption_scope::interruption_scope(interruption_check check, void* context)
    : previous_check_(current_check), previous_context_(current_context) {
  current_check = check;
  current_context = context;
}

interruption_scope::~interruption_scope() {
  current_check = previous_check_;
  current_context = previous_context_;
}

void interruption_point() {
  if (current_check != nullptr) current_check(current_context);
}

}  // namespace velmora
