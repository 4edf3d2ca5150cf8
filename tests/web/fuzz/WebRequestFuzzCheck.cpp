#include "web/fuzz/WebRequestFuzzCheck.h"

#include "web/WebRequest.h"

#include <string_view>

namespace sw::test {

namespace {

std::string Compare(const TWebRequest& a, const TWebRequest& b) {
    if (a.State != b.State) {
        return "state differs between whole and split input";
    }
    if (a.Method != b.Method || a.MethodName != b.MethodName || a.URI != b.URI || a.Version != b.Version) {
        return "request line differs between whole and split input";
    }
    if (a.ErrorCode != b.ErrorCode || a.MustClose != b.MustClose) {
        return "rejection differs between whole and split input";
    }
    if (a.Headers != b.Headers || a.BodyReceived() != b.BodyReceived()) {
        return "headers or body count differ between whole and split input";
    }
    if (a.State != RequestParseState::Invalid && a.Buffer != b.Buffer) {
        return "pending bytes differ between whole and split input";
    }
    return {};
}

std::string CheckOne(const TWebRequest& request) {
    switch (request.State) {
    case RequestParseState::RequestLine:
        if (request.Buffer.size() > kMaxRequestLineBytes + 1) {
            return "request line held beyond its limit";
        }
        break;
    case RequestParseState::Headers:
        if (request.Buffer.size() > kMaxHeaderBlockBytes + 1) {
            return "header block held beyond its limit";
        }
        [[fallthrough]];
    case RequestParseState::Complete:
        if (request.Method != WebMethod::Get && request.Method != WebMethod::Put &&
            request.Method != WebMethod::Head) {
            return "accepted request line with a method that is not served";
        }
        break;
    case RequestParseState::Body:
        if (request.BodyLength() > kMaxBodyBytes || request.BodyReceived() >= request.BodyLength()) {
            return "body state with an impossible count";
        }
        if (!request.Buffer.empty()) {
            return "body bytes kept";
        }
        break;
    case RequestParseState::Invalid:
        if (request.ErrorCode != 0 && request.ErrorCode != 400 && request.ErrorCode != 413 &&
            request.ErrorCode != 414) {
            return "unexpected rejection status";
        }
        if (request.ErrorCode == 0 && request.Method != WebMethod::Unknown &&
            request.Method != WebMethod::Post) {
            return "rejected request line with a served method";
        }
        break;
    }
    if (request.Headers.size() > static_cast<size_t>(kRequestHeaderCount)) {
        return "header stored outside the table";
    }
    return {};
}

} // namespace

std::string CheckWebRequestInput(const uint8_t* data, size_t size) {
    std::string_view text(reinterpret_cast<const char*>(data), size);
    TWebRequest whole;
    whole.AddData(text);

    // Piece lengths come from the input itself, so the fuzzer explores the splits too.
    TWebRequest split;
    size_t pos = 0;
    size_t step = size == 0 ? 1 : static_cast<size_t>(data[0] % 7) + 1;
    while (pos < size) {
        size_t n = std::min(step, size - pos);
        split.AddData(text.substr(pos, n));
        pos += n;
        step = step * 3 % 11 + 1;
    }
    if (std::string problem = Compare(whole, split); !problem.empty()) {
        return problem;
    }
    for (int i = 0; i < 1000; ++i) {
        if (std::string problem = CheckOne(whole); !problem.empty()) {
            return problem;
        }
        if (whole.State != RequestParseState::Complete || whole.MustClose) {
            break;
        }
        size_t pending = whole.Buffer.size();
        whole.NextRequest();
        if (whole.State == RequestParseState::Complete && whole.Buffer.size() >= pending) {
            return "a pipelined request consumed nothing";
        }
    }
    return {};
}

} // namespace sw::test
