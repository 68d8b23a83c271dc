#include "core/BlockingHook.h"

#include <atomic>

namespace {

std::atomic<CBlockingHook::Hook> g_hook{nullptr};

}  // namespace

thread_local int CBlockingHook::t_shields = 0;

void CBlockingHook::Set(Hook hook) { g_hook.store(hook); }

void CBlockingHook::BeforeBlocking() {
  if (t_shields > 0) return;
  const Hook hook = g_hook.load(std::memory_order_relaxed);
  if (hook != nullptr) hook();
}
