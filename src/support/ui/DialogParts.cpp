#include "support/ui/DialogParts.h"

#include <QDialog>
#include <QVBoxLayout>

namespace kestrix {

QVBoxLayout* SetUpFixedDialog(QDialog& dialog, const char* name, const char* title)
{
    dialog.setObjectName(QString::fromUtf8(name));
    dialog.setWindowTitle(QString::fromUtf8(title));
    dialog.setWindowFlags(Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint |
                          Qt::WindowCloseButtonHint | Qt::CustomizeWindowHint);
    auto* outer = new QVBoxLayout(&dialog);
    outer->setContentsMargins(8, 8, 8, 8);
    outer->setSizeConstraint(QLayout::SetFixedSize);
    return outer;
}

} // namespace kestrix
