// A hook through which tests drive the dialogs: called with each dialog
// just before it runs modally.
#pragma once

class QDialog;

extern "C" {
typedef void (*spk_dialog_hook_fn)(QDialog *dialog, void *context);
// Installs (or, with null, removes) the hook.  Exported for tests only.
__attribute__((visibility("default"))) void spk_setup_set_dialog_hook(spk_dialog_hook_fn hook, void *context);
}

void spk_call_dialog_hook(QDialog *dialog);
