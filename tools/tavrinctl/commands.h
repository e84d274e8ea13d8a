#pragma once

#include "ctloptions.h"

#include "provision/readerrecord.h"

// One function and one help text per command, each in its own file.
namespace Tavrinctl {

extern const char *const listHelp;
extern const char *const readHelp;
extern const char *const writeHelp;
extern const char *const diffHelp;
extern const char *const applyHelp;
extern const char *const historyHelp;
extern const char *const undoHelp;

int listCommand(const Options &options, Io &io);
int readCommand(const Options &options, Io &io);
int writeCommand(const Options &options, Io &io);
int diffCommand(const Options &options, Io &io);
int applyCommand(const Options &options, Io &io);
int historyCommand(const Options &options, Io &io);
int undoCommand(const Options &options, Io &io);

// Why entries of a reader known by where it is may be of another reader;
// empty for one known by its serial number.
QString placeNote(const ReaderIdentity &reader);

} // namespace Tavrinctl
