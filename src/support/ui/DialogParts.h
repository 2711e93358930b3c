// Pieces every dialog of the program is built from: named controls with a
// caption, and the fixed-size frame with a title and a close box only.
#pragma once

#include <QString>

class QDialog;
class QVBoxLayout;

namespace kestrix {

// A control or action of type T with a caption and an object name (the name
// is what the language file and the saved form state refer to).
template <typename T, typename Parent>
T* MakeNamed(const char* name, const char* caption, Parent* parent)
{
    auto* item = new T(QString::fromUtf8(caption), parent);
    item->setObjectName(QString::fromUtf8(name));
    return item;
}

// Names and titles `dialog`, gives it the frame of a fixed-size dialog (title
// bar with a close box, no resizing) and returns its outer layout, which
// keeps the dialog at the size of what it holds.
QVBoxLayout* SetUpFixedDialog(QDialog& dialog, const char* name, const char* title);

} // namespace kestrix
