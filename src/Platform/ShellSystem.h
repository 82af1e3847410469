#pragma once

// The operating system's side of Platform/Shell.h, one implementation per platform. Only Shell.cpp calls
// these; everyone else goes through the Platform* functions so that the test hook sees every call.

#include "App/Exceptions.h"
#include "Platform/Shell.h"

bool SystemShellOpen(const QString& Target);
void SystemShellStart(const QString& File, const QStringList& Arguments, const QString& WorkingFolder,
                      TShowMode Show);
void SystemRunElevatedAndWait(const QString& File, const QStringList& Arguments);

// The error a failed start raises: the system's code and its message.
EOSError OSError(int Code);
