#include "web/WebRequest.h"

#include "web/HeaderSlots.h"

#include <algorithm>
#include <strings.h>

namespace sw {

const std::array<const char*, kRequestHeaderCount> RequestHeaderNames = {
    "Cache-Control",
    "Connection",
    "Date",
    "Pragma",
    "Transfer-Encoding",
    "Upgrade",
    "Via",
    "Accept",
    "Accept-Charset",
    "Accept-Encoding",
    "Accept-Language",
    "Authorization",
    "Cookie",
    "From",
    "Host",
    "If-Match",
    "If-Modified-Since",
    "If-None-Match",
    "If-Range",
    "If-Unmodified-Since",
    "Max-Forwards",
    "Proxy-Authorization",
    "Range",
    "Referer",
    "User-Agent",
    "Allow",
    "Content-Base",
    "Content-Encoding",
    "Content-Language",
    "Content-Length",
    "Content-Location",
    "Content-MD5",
    "Content-Range",
    "Content-Type",
    "ETag",
    "Expires",
    "Last-Modified",
};

namespace {

bool EqualsNoCase(std::string_view a, const char* b) {
    size_t n = std::char_traits<char>::length(b);
    return a.size() == n && ::strncasecmp(a.data(), b, n) == 0;
}

bool IsControl(unsigned char c, bool allowTab) {
    if (c == '\t') {
        return !allowTab;
    }
    return c < 0x20 || c == 0x7F;
}

bool HasControl(std::string_view line, bool allowTab) {
    return std::any_of(line.begin(), line.end(),
                       [allowTab](char c) { return IsControl(static_cast<unsigned char>(c), allowTab); });
}

// Digits only, no sign, no overflow; the value must be usable as a byte count.
bool ParseContentLength(const std::string& text, uint64_t& value) {
    if (text.empty() || text.size() > 18) {
        return false;
    }
    value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') {
            return false;
        }
        value = value * 10 + static_cast<uint64_t>(c - '0');
    }
    return true;
}

} // namespace

std::vector<std::string> SplitWords(std::string_view line) {
    std::vector<std::string> words;
    size_t i = 0;
    size_t n = line.size();
    while (i < n && (line[i] == ' ' || line[i] == '\r' || line[i] == '\n')) {
        ++i;
    }
    if (i == n) {
        return words;
    }
    for (;;) {
        char first = line[i];
        if (first == '"' || first == '\'') {
            size_t close = line.find(first, i + 1);
            size_t end = close == std::string_view::npos ? n : close;
            words.emplace_back(line.substr(i + 1, end - i - 1));
            i = close == std::string_view::npos ? n : close + 1;
        } else {
            size_t end = std::min(line.find(' ', i), n);
            words.emplace_back(line.substr(i, end - i));
            i = end;
        }
        if (i >= n) {
            break;
        }
        if (line[i] == ' ') {
            while (i < n && line[i] == ' ') {
                ++i;
            }
            if (i == n) {
                words.emplace_back();
                break;
            }
        }
    }
    return words;
}

void TWebRequest::AddData(std::string_view text) {
    Buffer.append(text);
    Advance();
}

void TWebRequest::Advance() {
    if (State == RequestParseState::Body) {
        ConsumeBody();
        return;
    }
    size_t pos = 0;
    while (State == RequestParseState::RequestLine || State == RequestParseState::Headers) {
        size_t eol = Buffer.find("\r\n", std::max(pos, FScanned));
        if (eol == std::string::npos) {
            break;
        }
        std::string_view line(Buffer.data() + pos, eol - pos);
        pos = eol + 2;
        if (State == RequestParseState::RequestLine) {
            if (line.size() > kMaxRequestLineBytes) {
                Reject(414);
            } else if (HasControl(line, false)) {
                Reject(400);
            } else {
                State = ParseRequestLine(line) ? RequestParseState::Headers : RequestParseState::Invalid;
            }
            continue;
        }
        FHeaderBytes += line.size() + 2;
        if (FHeaderBytes > kMaxHeaderBlockBytes) {
            Reject(400);
        } else if (line.empty()) {
            EndHeaders();
        } else if (++FHeaderLines > kMaxHeaderLines || HasControl(line, true)) {
            Reject(400);
        } else {
            ParseHeaderLine(line);
        }
    }
    Buffer.erase(0, pos);
    // The last byte may be the CR of a CR LF still on its way.
    FScanned = Buffer.empty() ? 0 : Buffer.size() - 1;
    if (State == RequestParseState::RequestLine && Buffer.size() > kMaxRequestLineBytes + 1) {
        Reject(414);
    } else if (State == RequestParseState::Headers &&
               FHeaderBytes + Buffer.size() > kMaxHeaderBlockBytes + 1) {
        Reject(400);
    } else if (State == RequestParseState::Body) {
        ConsumeBody();
    }
}

void TWebRequest::EndHeaders() {
    if (!GetHeader(kRequestTransferEncoding).empty()) {
        // The body is not decoded, so nothing after this header block can be told apart from it.
        MustClose = true;
        State = RequestParseState::Complete;
        return;
    }
    if (FContentLengthCount == 0) {
        State = RequestParseState::Complete;
        return;
    }
    uint64_t length = 0;
    if (FContentLengthCount > 1 || !ParseContentLength(GetHeader(kRequestContentLength), length)) {
        Reject(400);
    } else if (length > kMaxBodyBytes) {
        Reject(413);
    } else {
        FBodyLength = length;
        FBodyReceived = 0;
        State = RequestParseState::Body;
    }
}

void TWebRequest::ConsumeBody() {
    uint64_t remaining = FBodyLength - FBodyReceived;
    size_t take = static_cast<size_t>(std::min<uint64_t>(remaining, Buffer.size()));
    FBodyReceived += take;
    Buffer.erase(0, take);
    FScanned = 0;
    if (FBodyReceived >= FBodyLength) {
        State = RequestParseState::Complete;
    }
}

void TWebRequest::Reject(uint16_t status) {
    ErrorCode = status;
    State = RequestParseState::Invalid;
}

bool TWebRequest::ParseRequestLine(std::string_view line) {
    std::vector<std::string> words = SplitWords(line);
    if (words.size() != 3) {
        return false;
    }
    MethodName = words[0];
    if (EqualsNoCase(words[0], "get")) {
        Method = WebMethod::Get;
    } else if (EqualsNoCase(words[0], "post")) {
        Method = WebMethod::Post;
    } else if (EqualsNoCase(words[0], "put")) {
        Method = WebMethod::Put;
    } else if (EqualsNoCase(words[0], "head")) {
        Method = WebMethod::Head;
    } else {
        Method = WebMethod::Unknown;
    }
    if (Method == WebMethod::Unknown || Method == WebMethod::Post) {
        return false;
    }
    URI = std::move(words[1]);
    Version = std::move(words[2]);
    return true;
}

void TWebRequest::ParseHeaderLine(std::string_view line) {
    size_t colon = line.find(':');
    if (colon == std::string_view::npos) {
        return;
    }
    std::string_view name = line.substr(0, colon);
    if (name.find_first_of(" \t") != std::string_view::npos) {
        // "Content-Length : 5" is no header to us but may be one to a proxy in front: the body would
        // be read as a further request.
        Reject(400);
        return;
    }
    std::string_view value = line.substr(colon + 1);
    while (!value.empty() && static_cast<unsigned char>(value.front()) <= ' ') {
        value.remove_prefix(1);
    }
    while (!value.empty() && static_cast<unsigned char>(value.back()) <= ' ') {
        value.remove_suffix(1);
    }
    for (int i = 0; i < kRequestHeaderCount; ++i) {
        if (EqualsNoCase(name, RequestHeaderNames[i])) {
            if (i == kRequestContentLength) {
                ++FContentLengthCount;
            }
            SetHeader(i, std::string(value));
            return;
        }
    }
}

std::string TWebRequest::GetHeader(int index) const {
    return GetHeaderSlot(Headers, index);
}

void TWebRequest::SetHeader(int index, const std::string& value) {
    SetHeaderSlot(Headers, index, value);
}

void TWebRequest::Reset() {
    *this = TWebRequest();
}

void TWebRequest::NextRequest() {
    std::string pending = std::move(Buffer);
    *this = TWebRequest();
    if (!pending.empty()) {
        AddData(pending);
    }
}

} // namespace sw
