#include "Service/Users/OwnProfileProvider.h"

#include "App/Paths.h"
#include "Service/Converters/Json.h"
#include "Service/FileDownloader.h"

std::unique_ptr<TOwnProfile> GetOwnProfile(const QString& DefaultName) {
    std::unique_ptr<TOwnProfile> profile;
    try {
        TFileDownloader downloader;
        downloader.EnableJsonApiGet();
        profile = TJsonApiToOwnProfile().ConvertStringToObject(downloader.Get(ProfileUrl()));
    } catch (...) {
        // A refused or broken fetch keeps the token: the refresh simply shows nothing new.
    }
    if (!profile)
        profile = std::make_unique<TOwnProfile>();
    if (profile->Name.isEmpty())
        profile->Name = DefaultName;
    return profile;
}
