// The install folder: the game client's root folder, which the launcher is started in. It is made
// once at start-up and handed to the window, the update worker and the settings dialog; every local
// path is its path followed by a relative path, and the revision a run reaches is stored here.
#pragma once

#include "platform/Platform.h"

#include <cstdint>
#include <string>

class TInstallFolder {
public:
    // folder as the process's current folder gives it; "\" is appended (so a drive root ends with two
    // separators, as the launcher has always written it).
    explicit TInstallFolder(const std::string& folder);
    // The process's current folder: the install folder at start-up.
    static TInstallFolder Current();

    // The folder followed by "\".
    const std::string& Path() const { return path_; }
    // Path() followed by a relative path.
    std::string operator/(const std::string& relative) const { return path_ + relative; }

    // The revision store: AtRevision in _settings.ini. A refused write raises Exception
    // "Unable to write to ...".
    void StoreRevision(const std::string& revision) const;
    // The revision stored by the last run that reached one; 0 when there is none.
    int32_t StoredRevision() const;

private:
    std::string path_;
};

// A folder of the launcher's own in the install folder (the staging folder and the folders in it): made
// when missing, and every folder of relative checked not to be a link, each time it is used. The
// install folder itself (the anchor) may be reached through links.
struct TOwnFolder {
    std::string anchor;   // the install folder, without its final "\\"
    std::string relative; // the folders of the launcher's own below it, "\\" between names

    TOwnFolder() = default;
    TOwnFolder(const TInstallFolder& folder, std::string ownRelative);
    bool Empty() const { return anchor.empty(); }
    std::string Path() const { return anchor + "\\" + relative; }
    // A file in the folder, as a name of the launcher's own.
    platform::OwnName operator/(const std::string& name) const { return {anchor, relative + "\\" + name}; }
    // False when any folder of relative is a link or a file, or cannot be made.
    [[nodiscard]] bool Make() const;
};
