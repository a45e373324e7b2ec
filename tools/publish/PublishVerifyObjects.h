// --verify's look at the objects of a served set, on the update URL and on each mirror: every object
// the list names must be there at its size and hash to its name, every chunk an index names must
// decode to its name, and a signed list must have its signature under the list's own name.
#pragma once

#include "support/ListAdditions.h"
#include "support/ListSignature.h"

#include <optional>
#include <set>
#include <string>
#include <vector>

namespace publish {

class ObjectCheck {
public:
    // base: the update URL or a mirror, ending with "/".
    explicit ObjectCheck(std::string base);

    // The problems with the objects of one file version, one line each (none when sound). With
    // chunks, every chunk its index names is fetched from this base and decoded too.
    std::vector<std::string> Check(const TFileObjects& objects, bool chunks);
    // Why the signature named by the list's bytes (listPath) is not a valid one by key, or "".
    std::string SignatureProblem(const std::string& listPath, const TListPublicKey& key);

private:
    // Why the object cannot be had from this base as the list names it, or "" (its bytes in *body
    // when asked for).
    std::string ObjectProblem(TObjectKind kind, const TObjectRef& ref, std::string* body = nullptr);

    std::string base_;
    std::set<std::pair<int, TObjectId>> sound_; // checked already (files share objects)
};

} // namespace publish
