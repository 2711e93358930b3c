// The program's command line: switches "e", "a", "o", "i" after "/" or "-",
// and up to two names (the input file or web address, the output file).
#pragma once

#include "protection/ProtectionSettings.h"

#include <QFlags>
#include <QString>
#include <QStringList>

namespace kestrix {

// How the program runs.
enum CommandLineModeFlag : unsigned char {
    cmOpenWindow = 2,   // open the main window instead of running a batch
    cmWebAddress = 4,   // the batch downloads its input
    cmKeepOriginal = 8, // the batch keeps the input as input + ".kestrix"
};
Q_DECLARE_FLAGS(CommandLineMode, CommandLineModeFlag)
Q_DECLARE_OPERATORS_FOR_FLAGS(CommandLineMode)

// What ParseCommandLine found.
struct CommandLine
{
    CommandLineMode mode = cmOpenWindow; // cmOpenWindow unless a batch was asked for
    ProtectionParts parts;               // the protections the batch applies
    QString InputName;                   // the first name: a path or a web address
    QString OutputName;                  // the second name
};

// Splits one command-line text into tokens: any character from code 1 to
// 32 separates; a token that begins with a double quote runs to the next
// lone double quote, the quotes are removed and two double quotes inside it
// stand for one.
QStringList SplitCommandLine(const QString& text);

// Reads the tokens of a command line, the program's own path first (it is
// skipped). A token starting with "-" is a switch, and one starting with "/"
// unless it is a path of this file system (a further "/" in it, or an
// existing entry of that name). Switch names are compared exactly ("E" and "ea" are ignored, as
// is every other switch). Throws Failure "Too many files specified (%s)"
// with the third name. Without an input name or without a part, the mode
// holds cmOpenWindow; an input that IsWebAddress accepts sets cmWebAddress,
// which clears cmKeepOriginal.
CommandLine ParseCommandLine(const QStringList& tokens);

} // namespace kestrix
