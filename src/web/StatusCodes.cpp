#include "web/StatusCodes.h"

namespace sw {

int TStatusCodes::IndexOf(uint16_t code) const {
    for (size_t i = 0; i < FItems.size(); ++i) {
        if (FItems[i].Code == code) {
            return static_cast<int>(i);
        }
    }
    return -1;
}

void TStatusCodes::Add(uint16_t code, const std::string& reasonPhrase) {
    if (code == 0 || reasonPhrase.empty() || IndexOf(code) >= 0) {
        return;
    }
    FItems.push_back({code, reasonPhrase});
}

std::string TStatusCodes::ReasonPhrase(uint16_t code) const {
    int index = IndexOf(code);
    return index < 0 ? std::string() : FItems[static_cast<size_t>(index)].ReasonPhrase;
}

const TStatusCodes& StatusCodes() {
    static const TStatusCodes table = [] {
        TStatusCodes codes;
        codes.Add(100, "Continue");
        codes.Add(101, "Switching Protocols");
        codes.Add(200, "OK");
        codes.Add(201, "Created");
        codes.Add(202, "Accepted");
        codes.Add(203, "Non-Authoritative Information");
        codes.Add(204, "No Content");
        codes.Add(205, "Reset Content");
        codes.Add(206, "Partial Content");
        codes.Add(300, "Multiple Choices");
        codes.Add(301, "Moved Permanently");
        codes.Add(302, "Moved Temporarily");
        codes.Add(303, "See Other");
        codes.Add(304, "Not Modified");
        codes.Add(305, "Use Proxy");
        codes.Add(400, "Bad Request");
        codes.Add(401, "Unauthorized");
        codes.Add(402, "Payment Required");
        codes.Add(403, "Forbidden");
        codes.Add(404, "Not Found");
        codes.Add(405, "Method Not Allowed");
        codes.Add(406, "Not Acceptable");
        codes.Add(407, "Proxy Authentication Required");
        codes.Add(408, "Request Time-out");
        codes.Add(409, "Conflict");
        codes.Add(410, "Gone");
        codes.Add(411, "Length Required");
        codes.Add(412, "Precondition Failed");
        codes.Add(413, "Request Entity Too Large");
        codes.Add(414, "Request-URI Too Large");
        codes.Add(415, "Unsupported Media Type");
        codes.Add(500, "Internal Server Error");
        codes.Add(501, "Not Implemented");
        codes.Add(502, "Bad Gateway");
        codes.Add(503, "Service Unavailable");
        codes.Add(504, "Gateway Time-out");
        codes.Add(505, "HTTP Version not supported");
        return codes;
    }();
    return table;
}

} // namespace sw
