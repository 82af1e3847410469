#pragma once

#include "Lib/PipeStorage.h"

#include <QString>

// Framing shared by the channel's client and server. Both directions use
//   ID length (int64 LE, bytes) | ID (UTF-16LE) | data size (int64 LE) | data
// The local transport is a Unix domain socket in the user's runtime folder.

constexpr qint64 IPC_CLOSE_MARKER = -1;       // ID length of a request that asks the server to hang up
constexpr qint64 IPC_MAX_ID_BYTES = 64 * 1024;    // more than this program ever sends
constexpr qint64 IPC_MAX_DATA_BYTES = 1024 * 1024;
constexpr qint64 IPC_CHUNK_BYTES = 65536;

enum class TPipeStep { WriteId, WriteDataSize, WriteChunk, ReadIdLength, ReadId, ReadDataSize, ReadData };

struct TPipeFailure {
    TPipeStep Step = TPipeStep::WriteId;
    int Error = 0;  // errno; EPROTO for a length out of range, EPIPE for an early end of stream
};

enum class TPipeReadResult {
    Ok,
    CloseMarker,  // the peer sent -1 as ID length
    Ended,        // the peer hung up between two messages
    Failed
};

// Writes fields 1+2 in one write, field 3 in a second, then the data in pieces of at most 64 KiB.
bool WritePipeMessage(int fd, const TMessageData& Message, TPipeFailure& Failure);
// Reads one message. Lengths that are negative (other than the close marker when allowed) or larger
// than the limits above fail with EPROTO before anything more is read.
TPipeReadResult ReadPipeMessage(int fd, TMessageData& Message, TPipeFailure& Failure, bool AllowCloseMarker);
// Sends the close marker (8 bytes of 0xFF).
bool WritePipeCloseMarker(int fd, TPipeFailure& Failure);

// The folder that holds the channel's socket: $XDG_RUNTIME_DIR when it is a usable folder, otherwise
// /tmp/tarvenox-<uid>.
QString IPCSocketFolder();
// Full socket path for a server name; empty when the name could leave the folder or is too long.
QString IPCSocketPath(const QString& ServerName);
// Creates the fallback folder with mode 0700 and checks that the folder belongs to this user and is
// closed to others. Returns 0 or an errno.
int PrepareIPCSocketFolder();
