#pragma once
// The two GET requests the download engine sends: the fresh form for a new
// download and the resume form, with a "Range: bytes=N-" header, for a partial
// file. Their bytes are fixed, odd line ends included, because servers and
// proxies in the field have been seeing exactly these requests. A span of a
// resource (a part fetched again) asks "Range: bytes=N-M" in the resume form.
#include <cstdint>

#include "runtime/types.h"

namespace net {

enum class RequestForm { kFresh, kResume };

struct RequestFields {
  rt::Text path;        // without the leading "/"
  // Empty: the request line names the path alone (origin form). Through a
  // proxy: "http://" + host field, written before the path (absolute form,
  // RFC 9112 section 3.2.2); every other byte stays the same.
  rt::Text origin;
  rt::Text host_field;  // the Host header value
  int64_t range_start = 0;  // resume form only
  int64_t range_last = -1;  // resume form only; -1: none (an open range)
  rt::Text cookie;      // empty: no Cookie header
};

rt::Text BuildRequest(RequestForm form, const RequestFields& fields);

}  // namespace net
