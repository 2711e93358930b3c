// Persistence of a dialog's controls and of a window's placement in the
// settings store, by component name: the section is the window's component
// name (its objectName, e.g. "FormEncryptionOptions"), the value names are
// the controls' objectNames followed by ".Text", ".Checked" or ".ItemIndex".
#pragma once

#include "support/SettingsStore.h"

#include <QString>

class QWidget;

namespace kestrix {

// The settings section of a window: its objectName; for a window without
// one, its class name without the leading "T" ("TFormKestrix" ->
// "FormKestrix").
QString ComponentName(const QWidget& form);

// Writes every named line edit (".Text"), check box (".Checked", "1"/"0")
// and combo box (".ItemIndex", then ".Text") that the form holds, in
// creation order. Controls inside another window, unnamed controls and the
// inner parts of compound controls are not written. False when the store
// refused a value.
bool SaveFormState(const QWidget& form, SettingsStore& store);

// Reads the same values back, each with the control's current value as the
// default: line edits and check boxes, then for a combo box its text (which
// selects the matching item) and then its index, which wins when it names
// an item or none (-1).
void LoadFormState(QWidget& form, const SettingsStore& store);

// The "Defaults" snapshot: the form's current (design) values in a store in
// memory, which LoadFormState loads back.
SettingsStore SnapshotFormState(const QWidget& form);

// Writes "Left", "Top", "Width", "Height" and "WindowState" (0 normal,
// 1 minimised, 2 maximised) of a window. The bounds are the client area of
// the normal window (without its frame) in every state, also while it is
// maximised or minimised. False when the store
// refused a value.
bool SaveWindowPlacement(const QWidget& window, SettingsStore& store);

// Applies the stored window state; unless it is maximised, also the stored
// bounds, each with the current value as the default. Bounds with no width
// or height, or lying outside every screen, are not applied, so that the
// window never opens where it cannot be seen.
void LoadWindowPlacement(QWidget& window, const SettingsStore& store);

} // namespace kestrix
