// The main window's images, drawn by the program itself: two strips indexed
// alike (24 x 24 for the large tool bar, 16 x 16 for menus and the small tool
// bar), the two file marks, and the application icon.
#pragma once

#include <QIcon>
#include <QPixmap>

namespace kestrix {

// Indices of the strips.
enum ImageIndex {
    imgUp = 0,
    imgBack = 1,
    imgForward = 2,
    imgEdit = 3,
    imgView = 4,
    imgEncrypt = 7,
    imgAbout = 8,
    imgPreferences = 9,
    imgExit = 10,
    imgSelectAll = 11,
    imgRestore = 12,
    imageCount = 13,
};

// File marks: 0 secured (a backup exists), 1 read-only.
enum FileMark { markNone = -1, markSecured = 0, markReadOnly = 1 };

// One image of a strip at `size` pixels (16 or 24); a null pixmap for an
// index the strips leave empty.
QPixmap StripImage(int index, int size);
// The image of a strip as an icon with both sizes.
QIcon StripIcon(int index);
// A file mark at `size` pixels.
QPixmap MarkImage(FileMark mark, int size);
// The application's icon.
QIcon ApplicationIcon();

} // namespace kestrix
