#pragma once

// The high-score table of thunder-q ("Image/TQ/TQ.CFG", 342 bytes): nine 16-byte records from byte 198,
// best first, each a little-endian 32-bit score and 12 bytes we leave alone. A new score is found by
// comparing the table with the one read last.

#include <QString>

// The service's board of thunder-q.
extern const QString TqBoardName;

constexpr int TqFileSize = 342;

// Prepares the table (keeping the player's own file as "TQ.CFG.orig" the first time) and reads the first
// snapshot. Raises EInOutError when the file cannot be prepared or read in full.
void TqStartScoreWatch(const QString& Path);
// The first record that holds a score above 9 that differs from the snapshot, or 0; the table read
// becomes the snapshot. Raises EInOutError (snapshot unchanged) when the file cannot be read in full.
int TqReadNewScore();
// Overwrites the nine scores with 9, 8, ..., 1 so that every score above 9 enters the game's table.
void TqResetScoreTable(const QString& Path);
// Frees the snapshot at program end.
void TqDone();
