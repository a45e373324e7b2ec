// The object store of an update set (vandrel-objects/): every payload, chunk index, list and list
// signature under the name of its contents, written once and never changed, so a run that fetched a
// list a moment ago, or through a cache that still holds it, finds every object it names. The classic
// names beside the list (PATH.bz2, PATH.chunks) are the same files, as hard links where the file
// system has them: the disk holds each payload once.
#pragma once

#include "platform/Platform.h"
#include "support/Objects.h"

#include <cstdint>
#include <deque>
#include <set>
#include <string>
#include <utility>

namespace publish {

using TObjectKey = std::pair<TObjectKind, TObjectId>;

class ObjectStore {
public:
    explicit ObjectStore(std::string outDir);
    ~ObjectStore();
    ObjectStore(const ObjectStore&) = delete;
    ObjectStore& operator=(const ObjectStore&) = delete;

    // A new object being written: its bytes go into Output(), and Put names and stores it.
    class Pending {
    public:
        platform::File& Output() { return file_; }

    private:
        friend class ObjectStore;
        std::string path_;
        platform::File file_;
    };
    // The pending object's file is removed unless Put takes it. Throws EPublishError.
    Pending& Begin();
    // Names a pending object by its bytes and puts it in the store (where the store has it already,
    // the new copy goes). Throws EPublishError.
    TObjectRef Put(TObjectKind kind, Pending& pending);
    // The same for bytes in memory, and for an existing file, which the store takes as a new name
    // for it (a hard link, or a copy).
    TObjectRef PutBytes(TObjectKind kind, const std::string& bytes);
    TObjectRef PutFile(TObjectKind kind, const std::string& path);
    // An object named by another object's id rather than its own bytes (a list's signature).
    void PutNamed(TObjectKind kind, const TObjectId& id, const std::string& bytes);

    // Where the object lives.
    std::string PathOf(TObjectKind kind, const TObjectId& id) const;
    // Whether the store holds the object at its size.
    bool Has(TObjectKind kind, const TObjectRef& ref) const;

    // Makes classic (a payload's or index's name beside the list) the same file as the object: a new
    // name is made beside it now and takes its place at CommitClassicNames. Throws EPublishError.
    void LinkClassic(TObjectKind kind, const TObjectRef& ref, const std::string& classic);
    void CommitClassicNames();

    // Deletes every object of the store that keep does not hold, and the folders left empty; a file
    // that is no object (a temporary a broken-off run left) goes too. Returns the objects deleted.
    size_t RemoveAllBut(const std::set<TObjectKey>& keep);

private:
    // A new name of the object at path, or a copy, at target (which must not exist).
    void NameOrCopy(const std::string& object, const std::string& target);

    std::string outDir_;
    std::deque<Pending> pending_;                       // a deque keeps each where it is
    std::deque<std::pair<std::string, std::string>> classic_; // new name beside, classic name
    unsigned counter_ = 0;
};

} // namespace publish
