// The one way the program replaces or creates a file: the bytes go to a
// temporary file in the target's folder, which is renamed over the target,
// so at no moment is the target missing or half-written.
#pragma once

#include <QString>

#include <string_view>

namespace kestrix {

// How far a write is pushed before the rename makes it visible.
enum class WriteDurability {
    // The data reaches the disk before the rename: the file survives a power
    // failure whole. Costs a disk flush per file.
    Synced,
    // The data is handed to the operating system, which writes it in its own
    // time: the file survives the program being killed whole, and a batch
    // flushes the disk once at its end (SyncFileSystemOf).
    Deferred,
};

// Writes `bytes` to `path` atomically. An existing target keeps its
// permission bits (and, where the user may set them, its owner and group).
// Throws Failure ("Unable to write %s" with the system's reason, translated)
// when the file cannot be written; the earlier file, if any, is then left
// exactly as it was and no temporary file remains.
void WriteFileAtomically(const QString& path, std::string_view bytes,
                         WriteDurability durability = WriteDurability::Synced);

// True for the name (without folder) of a temporary file of
// WriteFileAtomically: "." + target name (cut to fit) + "." + six characters
// + ".tmp".
// Such a file is only left behind when the program is killed between
// creating and renaming it; the folder scan passes over it.
bool IsAtomicWriteTemporary(const QString& fileName);

// A fresh temporary name for a file about to be written as `name` (bytes of
// a name without folder), of the form IsAtomicWriteTemporary knows.
QByteArray TemporaryNameFor(const QByteArray& name);

// Writes every byte to the descriptor, again after an interrupted call.
// False, with errno set, when the system refuses.
bool WriteAll(int fd, std::string_view bytes);

// Flushes to disk everything written to the file system that holds `path`.
void SyncFileSystemOf(const QString& path);

} // namespace kestrix
