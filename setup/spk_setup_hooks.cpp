#include "spk_setup_hooks.h"

#include <atomic>

namespace {
std::atomic<spk_dialog_hook_fn> spk_hook{nullptr};
std::atomic<void *> spk_hook_context{nullptr};
}   // namespace

void spk_setup_set_dialog_hook(spk_dialog_hook_fn hook, void *context) {
    spk_hook_context = context;
    spk_hook = hook;
}

void spk_call_dialog_hook(QDialog *dialog) {
    if (spk_dialog_hook_fn hook = spk_hook.load()) hook(dialog, spk_hook_context.load());
}
