// The hosts step's edit of the hosts file, apart from reading and writing it.
#pragma once

#include "support/Misc.h"

#include <string>

// The hosts file after the edit: its lines, some commented out, and the block to append.
struct THostsEdit {
    TStringList Lines; // the file's trimmed lines, contradicting mappings commented out with "#"
    TStringList Block; // the start marker, the mapping lines to add, the end marker
    // Whether the file must be written: at least one mapping line is to be added.
    bool Changed() const { return Block.size() > 2; }
    // The file's new text: every line of Lines and Block, each followed by CR LF.
    std::string Text() const;
};

// Every line of a hosts file's text, trimmed; a line ends at LF.
TStringList HostsLines(const std::string& text);

// Applies the list's entries (address|host, read from the end) to the file's trimmed lines. Raises
// EStringListError, before anything else happens, for an entry with fewer than two fields.
THostsEdit MergeHosts(TStringList lines, const TStringList& entries);
