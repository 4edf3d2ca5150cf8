#include "web/WebResponse.h"

#include "web/HeaderSlots.h"

#include "web/StatusCodes.h"

#include <algorithm>

namespace sw {

const std::array<const char*, kResponseHeaderCount> ResponseHeaderNames = {
    "Cache-Control",
    "Connection",
    "Date",
    "Pragma",
    "Transfer-Encoding",
    "Upgrade",
    "Via",
    "Age",
    "Location",
    "Proxy-Authenticate",
    "Public",
    "Retry-After",
    "Server",
    "Set-Cookie",
    "Vary",
    "Warning",
    "WWW-Authenticate",
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

std::string TWebResponse::GetHeader(int index) const {
    return GetHeaderSlot(Headers, index);
}

void TWebResponse::SetHeader(int index, const std::string& value) {
    SetHeaderSlot(Headers, index, value);
}

uint64_t TWebResponse::ContentLength() const {
    return FSource ? FSource->Size() : Content.size();
}

void TWebResponse::SetContentSource(std::unique_ptr<TContentSource> source) {
    FSource = std::move(source);
    FSent = 0;
    Content.clear();
}

std::string TWebResponse::GetNext() {
    std::string piece;
    switch (State) {
    case ResponseSendState::StatusLine:
        piece =
            "HTTP/1.1 " + std::to_string(StatusCode) + " " + StatusCodes().ReasonPhrase(StatusCode) + "\r\n";
        State = ResponseSendState::Headers;
        break;
    case ResponseSendState::Headers:
        for (int i = 0; i < kResponseHeaderCount && static_cast<size_t>(i) < Headers.size(); ++i) {
            const std::string& value = Headers[static_cast<size_t>(i)];
            if (!value.empty()) {
                piece.append(ResponseHeaderNames[static_cast<size_t>(i)])
                    .append(": ")
                    .append(value)
                    .append("\r\n");
            }
        }
        piece.append("\r\n");
        State = ContentLength() > 0 ? ResponseSendState::Content : ResponseSendState::Done;
        break;
    case ResponseSendState::Content:
        if (!FSource) {
            piece = Content;
            State = ResponseSendState::Done;
            break;
        }
        {
            uint64_t remaining = FSource->Size() - FSent;
            size_t want = static_cast<size_t>(std::min<uint64_t>(remaining, kContentPieceBytes));
            if (!FSource->Read(piece, want) || piece.size() != want) {
                FContentFailed = true;
                State = ResponseSendState::Done;
                break;
            }
            FSent += want;
            if (FSent >= FSource->Size()) {
                State = ResponseSendState::Done;
            }
        }
        break;
    case ResponseSendState::Done:
        break;
    }
    return piece;
}

void TWebResponse::Reset() {
    *this = TWebResponse();
}

} // namespace sw
