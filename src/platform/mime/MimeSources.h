#pragma once

#include <functional>
#include <istream>
#include <string>
#include <vector>

namespace sw {

// Receives one registration: a content type and an extension with its leading dot.
using TAddContentType = std::function<void(const std::string& contentType, const std::string& extension)>;

// "/etc/mime.types" layout: a content type followed by its extensions, "#" starting a comment.
void ReadMimeTypes(std::istream& input, const TAddContentType& add);

// shared-mime-info "globs2" layout: "weight:type:glob[:flags]". Only "*.ext" globs name an extension;
// other patterns (literal names, wildcards inside the extension, "*.tar.gz") cannot be looked up by
// the last dot of a file name and are skipped.
void ReadGlobs2(std::istream& input, const TAddContentType& add);

// The web's own types, so that a machine without either database still answers sensibly.
void AddBuiltInContentTypes(const TAddContentType& add);

// The globs2 files of the shared-mime-info data folders, most important first.
std::vector<std::string> Globs2FileNames();

// The three passes in order of precedence: /etc/mime.types, the globs2 files, the built-in table.
// A file that is missing or unreadable gives an empty pass.
void EnumerateContentTypes(const TAddContentType& add, const std::string& mimeTypesFile = "/etc/mime.types",
                           const std::vector<std::string>& globs2Files = Globs2FileNames());

} // namespace sw
