// Patches, the publisher's side: for every file whose contents changed, a patch from each of its last
// few versions (patchFromRevisions) to the new one, made from the set itself (the earlier versions'
// payload objects, which the lists it keeps name), so the operator needs no copy of old clients. A
// patch is written only where it costs less than what a launcher holding that version would fetch
// otherwise (the chunks it lacks, or the payload), and kept as an object like any other.
#pragma once

#include "support/ListAdditions.h"
#include "tools/publish/Publish.h"
#include "tools/publish/PublishList.h"
#include "tools/publish/PublishObjects.h"
#include "tools/publish/PublishScan.h"

#include <optional>
#include <vector>

namespace publish {

class PatchPublisher {
public:
    // earlier: the published list, then the lists it keeps, newest first.
    PatchPublisher(const PublishOptions& options, ObjectStore& store, std::vector<const UpdateList*> earlier);

    // The patches of a listed file in this revision: those the published list has for its contents,
    // the others made anew. Throws EPublishError (a file that cannot be read) or what writing raises.
    std::vector<TPatchRef> For(const ClientFile& file, const TObjectRef& payload, const std::optional<TObjectRef>& index,
                               unsigned threads);

    size_t Written() const { return written_; }

private:
    struct Base {
        std::string digest;
        TObjectRef payload;
    };
    std::vector<Base> BasesOf(const ClientFile& file) const;
    std::optional<TPatchRef> Published(const ClientFile& file, const std::string& baseDigest) const;

    const PublishOptions& options_;
    ObjectStore& store_;
    std::vector<const UpdateList*> earlier_;
    size_t written_ = 0;
};

} // namespace publish
