// What an update list says beyond its classic sections, in sections of its own that a launcher
// without them skips as it skips any line outside the sections it reads (and a set without them never
// asks for them):
//
//   [mirrors]              base URLs that serve copies of the set's objects and chunks, in order
//   http://cdn.example.com/update/
//   [/mirrors]
//   [objects]              the objects that make each file version, keyed by the file's MD5
//   payload|MD5|ID|SIZE    its bzip2 payload
//   index|MD5|ID|SIZE      its chunk index
//   patch|MD5|FROM|ID|SIZE a patch to it from the version whose MD5 is FROM
//   [/objects]
//   [kept]                 earlier lists (the ids of their files.lst.bz2) whose objects the set keeps
//   ID
//   [/kept]
//
// ID: an object's name (64 hexadecimal digits, see Objects.h); SIZE: its exact size in bytes. Lines
// that do not read as one of these are passed over, as a later launcher's additions would be.
#pragma once

#include "support/Objects.h"

#include <cstdint>
#include <map>
#include <string>
#include <vector>

class TListFile;

// A patch that makes a file version from an earlier one.
struct TPatchRef {
    std::string fromDigest; // the MD5 of the version it starts from, lower case
    TObjectRef object;
    bool operator==(const TPatchRef& other) const { return fromDigest == other.fromDigest && object == other.object; }
};

// The objects of one file version.
struct TFileObjects {
    std::optional<TObjectRef> payload;
    std::optional<TObjectRef> index;
    std::vector<TPatchRef> patches;
    bool operator==(const TFileObjects& other) const {
        return payload == other.payload && index == other.index && patches == other.patches;
    }
};

class TListAdditions {
public:
    // The most mirrors a list may name, the longest address of one, and the most kept lists: a list
    // that names more is read up to these.
    static constexpr size_t kMaxMirrors = 16;
    static constexpr size_t kMaxMirrorLength = 1024;
    static constexpr size_t kMaxKept = 64;

    // Reads the additions of an unpacked list (raises what the list reader raises).
    static TListAdditions Read(TListFile& list);

    // The sections, each line ending with CR LF, as vandrel-publish writes them; nothing for an empty one.
    std::string Format() const;

    bool HasObjects() const { return !objects_.empty(); }
    // The objects of the file version with this MD5 (either case), or null.
    const TFileObjects* ObjectsOf(const std::string& digest) const;
    TFileObjects& ObjectsFor(const std::string& digest); // for the publisher: made when missing
    const std::map<std::string, TFileObjects>& Objects() const { return objects_; }

    // Base URLs, each ending with "/", http:// or https:// only.
    const std::vector<std::string>& Mirrors() const { return mirrors_; }
    void AddMirror(const std::string& url); // raises EConvertError for an address a launcher would not take
    const std::vector<TObjectId>& Kept() const { return kept_; }
    void SetKept(std::vector<TObjectId> kept) { kept_ = std::move(kept); }

    bool operator==(const TListAdditions& other) const {
        return mirrors_ == other.mirrors_ && objects_ == other.objects_ && kept_ == other.kept_;
    }

private:
    std::vector<std::string> mirrors_;
    std::map<std::string, TFileObjects> objects_; // by lower-case MD5
    std::vector<TObjectId> kept_;
};

// Whether text is a mirror's address a launcher takes: http:// or https://, no blank or control byte,
// at most kMaxMirrorLength bytes. The address as used: with a final "/".
std::optional<std::string> MirrorAddress(const std::string& text);
