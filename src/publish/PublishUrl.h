#pragma once

#include <string>

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
    // FFmpeg's muxer for the scheme: "flv" (RTMP), "mpegts" (SRT), "rtsp".
    std::string Muxer;
    // The server (RTMP ingests such as YouTube's and Twitch's) accepts AAC only at 44.1 or 48 kHz.
    bool NeedsStandardSampleRate = false;
};

// Checks the URL's form only; whether a server answers there is for the connection to find out.
TPublishTarget ParsePublishUrl(const std::string& url);

} // namespace sw
