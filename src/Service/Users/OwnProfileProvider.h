#pragma once

#include "App/DataContracts.h"

#include <memory>

// The logged-in user's name and coins from the service. Never raises: when the profile cannot be had
// (no network, refused, unreadable) the profile is empty, with DefaultName as its name.
std::unique_ptr<TOwnProfile> GetOwnProfile(const QString& DefaultName);
