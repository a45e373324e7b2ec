// Small string and file routines that the launcher's units share.
#pragma once

#include "platform/Platform.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

using TStringList = std::vector<std::string>;

// The "|"-separated fields of a list line, last field first; empty fields are dropped.
TStringList SplitReversed(const std::string& text, const std::string& delimiters);

// 1-based position of the first occurrence of pattern in text at or after start (Boyer-Moore-Horspool),
// 0 when there is none or the pattern is empty.
size_t FindFrom(size_t start, const std::string& text, const std::string& pattern);

// text with every occurrence of oldPart replaced by newPart, left to right, never re-scanning output.
std::string ReplaceAll(const std::string& text, const std::string& oldPart, const std::string& newPart);
// Whether text ends with end.
bool EndsWith(const std::string& text, const std::string& end);

// Copies a whole file's contents into an open file. Raises EFOpenError or EInOutError.
void CopyFileInto(const std::string& from, platform::File& to);

// Deletes a folder tree for good; a missing folder is no error and failures are silent.
void DeleteFolder(const std::string& path);

// Makes the program's folder current (EInOutError when it cannot) and starts the program, not waiting.
void RunProgram(const std::string& path);

// Removes every leading and trailing byte of value 32 or less.
std::string Trim(const std::string& text);

// Decimal text to a 32-bit integer; EConvertError for anything else.
int32_t StrToInt(const std::string& text);
// The same to a 64-bit integer (sizes of files and payloads of many GiB).
int64_t StrToInt64(const std::string& text);

// The item at index, or EStringListError when the list has no such item.
const std::string& ItemAt(const TStringList& list, size_t index);

// Everything up to and including the last "\" (or ":"), empty when there is none.
std::string ExtractFilePath(const std::string& path);
