#pragma once

#include <string>
#include <vector>

namespace sw {

// A publish URL taken apart: what the log may show of it and how the stream is carried.
struct TPublishTarget {
    bool Valid = false;
    // Why the URL cannot be used, when not Valid.
    std::string Problem;
    std::string Url;    // as given, trimmed
    std::string Scheme; // lower case
    std::string Host;
    // The URL without what may be secret: user and password, the query, and for RTMP the stream key
    // (everything after the application name). Safe for the log.
    std::string Redacted;
    // The parts the redaction leaves out, longest first, for scrubbing texts that may quote them.
    std::vector<std::string> Secrets;
    // FFmpeg's muxer for the scheme: "flv" (RTMP), "mpegts" (SRT), "rtsp".
    std::string Muxer;
    // The server (RTMP ingests such as YouTube's and Twitch's) accepts AAC only at 44.1 or 48 kHz.
    bool NeedsStandardSampleRate = false;
};

// Checks the URL's form only; whether a server answers there is for the connection to find out.
TPublishTarget ParsePublishUrl(const std::string& url);
// The text with every secret of the target replaced by "****" (library messages may quote the URL).
std::string ScrubSecrets(std::string text, const TPublishTarget& target);

} // namespace sw
