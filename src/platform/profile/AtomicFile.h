#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace sw {

// Replaces a file's content through a temporary file beside it and a rename, so the old content
// survives any failure or crash. False when the file is read-only or its folder cannot be written.
// A symbolic link is followed: the file it names is replaced.
bool ReplaceFileContent(const std::string& fileName, const std::string& content);

enum class TReplaceResult {
    Ok,
    NotWritable, // read-only file, not a regular file, or no temporary file could be made beside it
    WriteFailed, // writing, syncing or renaming failed; the old content is untouched
};
// The same with the reason of a failure. The new file keeps the old one's permissions and, where the
// process may set it, its owner.
TReplaceResult ReplaceFileContentWithResult(const std::string& fileName,
                                            const std::vector<std::string_view>& pieces);

// The same, with the content given as pieces written one after the other (no copy into one buffer).
bool ReplaceFileContent(const std::string& fileName, const std::vector<std::string_view>& pieces);

// Removes the temporary files that a killed ReplaceFileContent of fileName left beside it (the
// name, "." and six characters); returns how many went.
size_t RemoveStaleTempFiles(const std::string& fileName);

// The whole content of a regular file; nothing when it is missing or unreadable.
std::optional<std::string> ReadFileContent(const std::string& fileName);

// The lines of a text, each ended by LF or CR LF (the ending not included); a last line without an
// ending counts too.
std::vector<std::string> SplitFileLines(const std::string& text);

} // namespace sw
